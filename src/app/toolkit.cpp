#include "toolkit.h"

#include "DataUnit.h"
#include "GuiCalls.h"
#include "dataaccess/common/DataSetBase.h"
#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/mysql/MySqlIdentifier.h"

#include "common/AppTitle.h"
#include "common/Exceptions.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QThread>

#include <functional>
#include <future>

namespace calvoro::app {

QString QuoteName(const QString& name, bool quote) {
    if (name.isEmpty()) return name;
    return dac::QuoteIdentifier(name, quote);
}

QString QuoteIdentifier(const QString& name) { return dac::QuoteIdentifier(name); }

void PostIfEditing(dac::TDataSet& dataSet) {
    if (dataSet.State() == dac::dsEdit || dataSet.State() == dac::dsInsert) dataSet.Post();
}

namespace {

// Reconnects with the idle check off; it is put back only when the connect succeeds.
void Reconnect(dac::TMyConnection& connection, const std::function<void()>& change) {
    TData* data = TData::Instance();
    if (data) data->RemoveIdleHook();
    connection.Disconnect();
    change();
    connection.Connect();
    if (data) data->InstallIdleHook();
}

}  // namespace

void DisableUnicode(dac::TMyConnection& connection) {
    Reconnect(connection, [&] {
        connection.MyOptions().SetUseUnicode(false);
        // Bytes pass as they are; utf8mb4 is what text typed in the editors becomes.
        connection.MyOptions().SetCharset(QStringLiteral("utf8mb4"));
        connection.SetLoginPrompt(false);
    });
}

void EnableUnicode(dac::TMyConnection& connection) {
    Reconnect(connection, [&] {
        connection.MyOptions().SetCharset(QString());
        connection.MyOptions().SetUseUnicode(true);
        connection.SetLoginPrompt(false);
    });
    connection.SetLoginPrompt(true);
}

void RunInBackground(const std::function<void()>& work) {
    // The outcome comes back through a promise, which also hands everything the work wrote over
    // to this thread in a way ThreadSanitizer sees (it cannot see the locks inside Qt that
    // QThread::wait relies on).
    std::promise<void> outcome;
    std::future<void> result = outcome.get_future();
    std::unique_ptr<QThread> thread(QThread::create([&] {
        try {
            work();
            outcome.set_value();
        } catch (...) {
            // Any failure, whatever its type, is raised again on the caller's thread below.
            outcome.set_exception(std::current_exception());
        }
    }));
    QEventLoop loop;
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    // finished is queued to this thread, so it cannot be missed before exec runs.
    loop.exec();
    thread->wait();
    result.get();
}

void CallOnGui(const std::function<void()>& f) {
    QCoreApplication* app = QCoreApplication::instance();
    TGuiCalls* calls = TGuiCalls::Instance();
    if (!app || !calls || QThread::currentThread() == app->thread()) {
        f();
        return;
    }
    // The outcome comes back through a promise: f's failure is raised here, on the caller's
    // thread, and what f wrote is handed over with it.
    std::promise<void> outcome;
    std::future<void> result = outcome.get_future();
    calls->Post([&] {
        try {
            f();
            outcome.set_value();
        } catch (...) {
            // Raised again on the waiting thread below.
            outcome.set_exception(std::current_exception());
        }
    });
    result.get();
}

void PostToGui(std::function<void()> f) {
    QCoreApplication* app = QCoreApplication::instance();
    TGuiCalls* calls = TGuiCalls::Instance();
    if (!app || !calls || QThread::currentThread() == app->thread()) {
        f();
        return;
    }
    calls->Post(std::move(f));
}

QString FormatElapsed(qint64 milliseconds) {
    const qint64 hours = milliseconds / 3600000, minutes = milliseconds / 60000 % 60,
                 seconds = milliseconds / 1000 % 60, ms = milliseconds % 1000;
    QString text;
    if (hours) text += QStringLiteral("%1h ").arg(hours, 2, 10, QChar(u'0'));
    if (minutes) text += QStringLiteral("%1min ").arg(minutes, 2, 10, QChar(u'0'));
    if (seconds) text += QStringLiteral("%1sec ").arg(seconds, 2, 10, QChar(u'0'));
    return text + QStringLiteral("%1ms ").arg(ms);
}

void LimitDisplayWidths(dac::TDataSet& query, int maxWidth) {
    for (const auto& field : query.Fields()) {
        switch (field->DataType()) {
            case dac::ftUnknown: case dac::ftSmallint: case dac::ftInteger: case dac::ftWord: case dac::ftBoolean:
            case dac::ftFloat: case dac::ftCurrency: case dac::ftBCD: case dac::ftDate: case dac::ftTime:
            case dac::ftDateTime: case dac::ftBytes: case dac::ftVarBytes: case dac::ftAutoInc: case dac::ftLargeint:
            case dac::ftTimeStamp: case dac::ftFMTBcd:
                continue;
            default:
                field->SetDisplayWidth(std::min(field->DisplayWidth(), maxWidth));
        }
    }
}

bool Confirm(const QString& message) {
    QMessageBox box(QMessageBox::Question, ApplicationTitle(), message,
                    QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    box.setObjectName(QStringLiteral("ConfirmBox"));
    box.setWindowModality(Qt::ApplicationModal);
    return box.exec() == QMessageBox::Yes;
}

QString ErrorMessageOf(const std::exception& e) {
    auto* ours = dynamic_cast<const Exception*>(&e);
    QString message = ours ? ours->Message() : QString::fromUtf8(e.what());
    qsizetype from = 0, to = message.size();
    while (from < to && (message[from] == u'\r' || message[from] == u'\n')) ++from;
    while (to > from && (message[to - 1] == u'\r' || message[to - 1] == u'\n')) --to;
    return message.mid(from, to - from);
}

QString ErrorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back() > u'.') return message + u'.';
    return message;
}

void ShowErrorBox(const QString& message) {
    QMessageBox box(QMessageBox::Critical, ApplicationTitle(), ErrorBoxText(message),
                    QMessageBox::Ok, QApplication::activeWindow());
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
}

void HandleException(const std::exception& e) {
    if (dynamic_cast<const EAbort*>(&e)) return;
    if (auto* ours = dynamic_cast<const Exception*>(&e))
        ShowErrorBox(ours->Message());
    else
        ShowErrorBox(QString::fromUtf8(e.what()));
}

}  // namespace calvoro::app
