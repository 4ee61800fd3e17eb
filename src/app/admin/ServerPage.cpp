#include "ServerPage.h"

#include "AdminSession.h"
#include "app/DataUnit.h"
#include "dataaccess/mysql/MyAccess.h"

#include <memory>

namespace calvoro::app {

TServerPage::TServerPage(TAdminSession& session, QWidget* parent) : QWidget(parent), FSession(session) {}

void TServerPage::SetState(const QString& state) {
    FState = state;
    emit Refreshed();
}

void TServerPage::RefreshSoon() {
    if (Refresh()) return;
    auto once = std::make_shared<QMetaObject::Connection>();
    *once = connect(&FSession, &TAdminSession::Idle, this, [this, once] {
        disconnect(*once);
        RefreshSoon();
    });
}

QString TServerPage::OwnConnection(qint64 id) const {
    if (id == 0) return {};
    if (id == FSession.ConnectionId()) return QStringLiteral("this Server tab");
    // Noted when the tools session logged in; reading it here would race with its work.
    if (id == FSession.ToolsConnectionId())
        return QStringLiteral("the tools session of the other tabs");
    return {};
}

}  // namespace calvoro::app
