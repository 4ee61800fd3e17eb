#pragma once
// The results of an executed query text, a tab each: "Result 1", "Result 2", … with their row
// counts, each an editable grid with its navigator over a data set of its own, so that a
// refresh or an edit of one result runs only that result's statement.

#include <QTabWidget>

#include <functional>
#include <memory>
#include <vector>

namespace calvoro::dac {
class TDBGrid;
class TDBNavigator;
class TMyConnection;
class TMyQuery;
}  // namespace calvoro::dac

namespace calvoro::app {

class TResultTabs : public QTabWidget {
    Q_OBJECT
public:
    explicit TResultTabs(QWidget* parent = nullptr);
    ~TResultTabs() override;

    // A data set for one statement's result on the connection, set up as the custom query's:
    // quoted names, every result of the statement reported (a CALL answers several).
    std::unique_ptr<dac::TMyQuery> MakeQuery(dac::TMyConnection& connection) const;
    // Called with every data set MakeQuery made (tests hook its events).
    std::function<void(dac::TMyQuery&)> OnQueryMade;
    // Asked before a grid edit or a navigator action: false while the connection is busy.
    std::function<bool()> OnAllowChange;
    // Called with every result grid Add made (the window adds its grid actions).
    std::function<void(dac::TDBGrid*)> OnGridMade;

    // Adds the next result (an open data set) as the last tab and makes it current.
    void Add(std::unique_ptr<dac::TMyQuery> query);
    // Drops every result and its data set.
    void Clear();
    int Count() const { return int(FPages.size()); }
    dac::TMyQuery* Query(int index) const;
    dac::TDBGrid* Grid(int index) const;
    dac::TDBNavigator* Navigator(int index) const;
    dac::TMyQuery* CurrentQuery() const { return Query(currentIndex()); }
    dac::TDBGrid* CurrentGrid() const { return Grid(currentIndex()); }
    dac::TDBNavigator* CurrentNavigator() const { return Navigator(currentIndex()); }
    // "Result 3 (1 row)": the result's number and its rows as the grid holds them now.
    static QString Title(int number, int rows);

signals:
    // A grid edit or a navigator action failed.
    void errorOccurred(const QString& message);

private:
    struct TPage {
        QWidget* Widget = nullptr;
        dac::TDBGrid* Grid = nullptr;
        dac::TDBNavigator* Navigator = nullptr;
        std::unique_ptr<dac::TMyQuery> Query;
        int Number = 0;
    };
    void CloseTab(int index);
    void UpdateTitle(const TPage& page);
    std::vector<std::unique_ptr<TPage>> FPages;  // in tab order
    int FNumbered = 0;
};

}  // namespace calvoro::app
