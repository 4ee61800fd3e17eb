#pragma once
// The maker's web services. Base addresses come from the environment so that tests can point
// them at a local HTTP server.

#include <QString>

namespace calvoro::app {

// The maker's web site, e.g. "https://www.vornesk.com"; CALVORO_MAKER_URL overrides it.
QString MakerSiteUrl();

}  // namespace calvoro::app
