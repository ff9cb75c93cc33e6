#include "platform/Fonts.h"

#include <QFont>
#include <QStringList>

namespace Fonts {

void InstallSubstitutions() {
    // IPA fonts share the metrics of the MS fonts; the others are close fallbacks.
    const QStringList proportional = {QStringLiteral("IPAPGothic"), QStringLiteral("VL PGothic"),
                                      QStringLiteral("Noto Sans CJK JP")};
    const QStringList fixed = {QStringLiteral("IPAGothic"), QStringLiteral("VL Gothic"),
                               QStringLiteral("Noto Sans Mono CJK JP")};
    for (const char16_t* name : {u"ＭＳ Ｐゴシック", u"MS PGothic", u"ＭＳ ゴシック", u"MS Gothic",
                                 u"ＭＳ ＵＩ Gothic", u"MS UI Gothic"}) {
        const QString face = QString::fromUtf16(name);
        const bool isFixed = !face.contains(u'Ｐ') && !face.contains(u'P') && !face.contains(u"UI");
        QFont::insertSubstitutions(face, isFixed ? fixed : proportional);
    }
}

} // namespace Fonts
