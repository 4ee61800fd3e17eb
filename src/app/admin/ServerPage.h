#pragma once
// A page of the Server tab: what it shows is read on the tab's own connection, off the
// window's thread; changes go through the statements dialog.

#include <QString>
#include <QWidget>

namespace calvoro::app {

class TAdminSession;
class TData;

class TServerPage : public QWidget {
    Q_OBJECT
public:
    TServerPage(TAdminSession& session, QWidget* parent);

    void SetData(TData* data) { FData = data; }

    // Starts reading what the page shows; false (nothing started) while the session is busy.
    virtual bool Refresh() = 0;
    // Forgets what it showed (a session ended or began).
    virtual void Clear() = 0;
    // Whether the timer refreshes the page, and why it holds still now (empty: it does not).
    virtual bool AutoRefreshed() const { return false; }
    virtual QString PausedBecause() const { return {}; }

    // Refresh, now or as soon as the session's running work has ended.
    void RefreshSoon();

    // What was read last: the time, or the error.
    QString LastState() const { return FState; }

signals:
    // A reading ended (or failed); LastState says how.
    void Refreshed();

protected:
    // Notes how the last reading ended and tells the tab.
    void SetState(const QString& state);
    // The server ids of Calvoro's own connections and what each is, for marking them.
    QString OwnConnection(qint64 id) const;

    TAdminSession& FSession;
    TData* FData = nullptr;

private:
    QString FState;
};

}  // namespace calvoro::app
