#include "VorneskUtils.h"

#include <QtGlobal>

namespace calvoro::app {

QString MakerSiteUrl() {
    QString url = qEnvironmentVariable("CALVORO_MAKER_URL", QStringLiteral("https://www.vornesk.com"));
    while (url.endsWith(u'/')) url.chop(1);
    return url;
}

}  // namespace calvoro::app
