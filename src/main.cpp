#include "app/QuillaApp.h"

int main(int argc, char** argv) {
    CQuillaApp app(argc, argv);
    if (!app.InitInstance())
        return 1;
    return app.exec();
}
