#include "app/QuillaApp.h"
#include "platform/Signals.h"

int main(int argc, char** argv) {
    CQuillaApp app(argc, argv);
    Signals::QuitOnTermination();
    if (!app.InitInstance())
        return 1;
    return app.exec();
}
