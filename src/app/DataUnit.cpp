#include "DataUnit.h"

#include "TessrinUnit.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>

namespace calvoro::app {

TData::TData(TTessrinForm* mainForm, QObject* parent) : QObject(parent), FMainForm(mainForm) {
    setObjectName(QStringLiteral("Data"));
    InstallIdleHook();
}

TData::~TData() { RemoveIdleHook(); }

bool TData::ToolsConnected() const {
    // The tools connection joins the session with the data-access layer; until then nothing
    // can be connected.
    return false;
}

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
