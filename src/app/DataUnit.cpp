#include "DataUnit.h"

#include "TessrinUnit.h"
#include "dataaccess/mysql/MyAccess.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>

namespace calvoro::app {

TData::TData(TTessrinForm* mainForm, QObject* parent)
    : QObject(parent), ToolsConnection(std::make_unique<dac::TMyConnection>()), FMainForm(mainForm) {
    setObjectName(QStringLiteral("Data"));
    ToolsConnection->Name = QStringLiteral("ToolsConnection");
    ToolsConnection->MyOptions().SetUseUnicode(true);
    InstallIdleHook();
}

TData::~TData() { RemoveIdleHook(); }

bool TData::ToolsConnected() const { return ToolsConnection->GetConnected(); }

void TData::InstallIdleHook() {
    if (FIdleHook) return;
    auto* dispatcher = QAbstractEventDispatcher::instance(QCoreApplication::instance()->thread());
    if (!dispatcher) return;
    FIdleHook = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                        &TData::ApplicationEventsIdle);
}

void TData::RemoveIdleHook() {
    if (FIdleHook) disconnect(FIdleHook);
    FIdleHook = {};
}

void TData::ApplicationEventsIdle() {
    if (!FMainForm) return;
    if (!ToolsConnected()) FMainForm->ShowDisconnectedState();
}

}  // namespace calvoro::app
