#include "WindowFont.h"

#include <QFontDatabase>
#include <QStringList>

namespace WindowFont {

QString family() {
    static const QString chosen = [] {
        const QString preferred = QStringLiteral("ＭＳ Ｐゴシック");
        const QStringList families = QFontDatabase::families();
        if (families.contains(preferred))
            return preferred;
        for (const QString& fallback : {QStringLiteral("IPAPGothic"), QStringLiteral("IPA Pゴシック")})
            if (families.contains(fallback))
                return fallback;
        return QStringLiteral("IPAPGothic");
    }();
    return chosen;
}

QFont font(int pixelHeight) {
    QFont f(family());
    f.setPixelSize(pixelHeight);
    return f;
}

} // namespace WindowFont
