#include "ui/applicationfont.h"

#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>

namespace Servo {

QString applicationFontFamily()
{
    return QStringLiteral("微软雅黑");
}

int applicationFontPointSize()
{
    return 8;
}

QStringList applicationFontStandIns()
{
    // WenQuanYi Micro Hei's Latin letters are about as wide as the designed
    // face's; Noto Sans CJK's and Source Han Sans' are a little wider.
    return {QStringLiteral("Microsoft YaHei"), QStringLiteral("WenQuanYi Micro Hei"),
            QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Source Han Sans SC")};
}

QString installApplicationFont()
{
    const QString family = applicationFontFamily();
    const QFontDatabase fonts;
    QString standIn;
    if (!fonts.hasFamily(family)) {
        const QStringList candidates = applicationFontStandIns();
        for (const QString &candidate : candidates) {
            if (fonts.hasFamily(candidate)) {
                standIn = candidate;
                break;
            }
        }
        if (!standIn.isEmpty())
            QFont::insertSubstitution(family, standIn);
    }
    QFont font = QGuiApplication::font();
    font.setFamily(family);
    font.setPointSize(applicationFontPointSize());
    // Unhinted, as fontconfig draws WenQuanYi Micro Hei on Linux: hinting
    // rounds each letter's advance, which widens a caption by a pixel or two
    // on platforms that hint it, and the form has no pixel to spare.
    if (!standIn.isEmpty())
        font.setHintingPreference(QFont::PreferNoHinting);
    QGuiApplication::setFont(font);
    return standIn;
}

} // namespace Servo
