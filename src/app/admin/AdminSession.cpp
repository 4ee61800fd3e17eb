#include "AdminSession.h"

#include "dataaccess/mysql/MyAdminReaders.h"

#include <QEventLoop>
#include <QThread>

namespace calvoro::app {

namespace {

bool SameSSL(const dac::TMyConnectionSSLOptions& a, const dac::TMyConnectionSSLOptions& b) {
    return a.ChipherList == b.ChipherList && a.CACert == b.CACert && a.Key == b.Key && a.Cert == b.Cert &&
           a.Mode == b.Mode && a.CAPath == b.CAPath && a.ServerPublicKey == b.ServerPublicKey &&
           a.GetServerPublicKey == b.GetServerPublicKey;
}

// Closes a connection whose failure may have left it half open; a failing close changes nothing
// for the caller, who reports the failure that came first.
void CloseQuietly(dac::TMyConnection& connection) {
    try {
        connection.Disconnect();
    } catch (const std::exception&) {
        // The first failure is what the caller reports; this one adds nothing.
    }
}

}  // namespace

TAdminSession::TAdminSession(QObject* parent) : QObject(parent), FConnection(std::make_unique<dac::TMyConnection>()) {
    FConnection->SetLoginPrompt(false);
    FConnection->MyOptions().SetUseUnicode(true);
}

TAdminSession::~TAdminSession() {
    if (FThread) {
        FThread->wait();
        // Only for the hand-over of what the worker wrote; its failure has no one to go to.
        if (FOutcome.valid()) FOutcome.wait();
    }
    CloseQuietly(*FConnection);
}

void TAdminSession::SetLogin(dac::TMyConnection& tools) {
    FLogin = {tools.Server(), tools.Username(), tools.Password(), tools.Port(), tools.SSLOptions()};
    FToolsConnectionId = tools.GetConnected() ? qint64(tools.GetThreadId()) : 0;
}

void TAdminSession::Close() {
    while (Busy()) {
        QEventLoop loop;
        connect(this, &TAdminSession::Idle, &loop, &QEventLoop::quit);
        loop.exec();
    }
    CloseQuietly(*FConnection);
    FConnectionId = 0;
}

bool TAdminSession::Start(TWork work, TDone done) {
    if (Busy()) return false;
    FDone = std::move(done);
    auto outcome = std::make_shared<std::promise<void>>();
    FOutcome = outcome->get_future();
    FThread.reset(QThread::create([this, outcome, work = std::move(work), login = FLogin] {
        dac::TMyConnection& c = *FConnection;
        try {
            const bool changed = c.Server() != login.Server || c.Port() != login.Port ||
                                 c.Username() != login.Username || c.Password() != login.Password ||
                                 !SameSSL(c.SSLOptions(), login.SSL);
            if (changed) {
                CloseQuietly(c);
                c.SetServer(login.Server);
                c.SetPort(login.Port);
                c.SetUsername(login.Username);
                c.SetPassword(login.Password);
                c.SSLOptions() = login.SSL;
            }
            if (!c.GetConnected()) {
                FWorkerConnectionId = 0;
                c.Connect();
                FWorkerDialect = dac::ReadDialect(c);
                FWorkerConnectionId = c.GetThreadId();
            }
            work(c, FWorkerDialect);
            outcome->set_value();
        } catch (const dac::EMyError& e) {
            // A lost connection is closed, so that the next work logs in anew.
            if (e.IsFatalError()) {
                CloseQuietly(c);
                FWorkerConnectionId = 0;
            }
            outcome->set_exception(std::current_exception());
        } catch (...) {
            // Whatever the work raised goes to its completion on the window's thread.
            outcome->set_exception(std::current_exception());
        }
    }));
    // finished is queued to this object's thread.
    connect(FThread.get(), &QThread::finished, this, &TAdminSession::Finished);
    FThread->start();
    return true;
}

void TAdminSession::Finished() {
    if (!FThread) return;
    FThread->wait();
    FThread.reset();
    std::exception_ptr failure;
    try {
        FOutcome.get();
    } catch (...) {
        // The work's failure, whatever its type, goes to its completion below.
        failure = std::current_exception();
    }
    FConnectionId = FWorkerConnectionId;
    FDialect = FWorkerDialect;
    const TDone done = std::move(FDone);
    FDone = nullptr;
    if (done) done(failure);
    emit Idle();
}

void TAdminSession::Run(const TWork& work) {
    while (Busy()) {
        QEventLoop loop;
        connect(this, &TAdminSession::Idle, &loop, &QEventLoop::quit);
        loop.exec();
    }
    QEventLoop loop;
    std::exception_ptr failure;
    bool ended = false;
    Start(work, [&](std::exception_ptr f) {
        failure = f;
        ended = true;
        loop.quit();
    });
    if (!ended) loop.exec();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace calvoro::app
