#pragma once

#include "recordstore.h"

#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QTreeWidget;
struct RecordSummary;
namespace QtCharts {
class QChartView;
}

// The host window's view of the records: the latest ones, filtered by module and result, and the
// summary as charts: the updates of each day by result, and the failures by phase.
class RecordsView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int LatestCount = 200;
    // Days the per-day chart covers, today included.
    static constexpr int ChartDays = 14;

    explicit RecordsView(const QString& location, QWidget* parent = nullptr);

    // A result and a phase as the view shows them, in the user's language (a phase it does not know as it is).
    static QString shownResult(UpdateRecord::Result result);
    static QString shownPhase(const QString& phase);

public slots:
    // Reads the records again with the filters as they are.
    void refresh();

private:
    void drawCharts(const RecordSummary& summary);

    RecordStore m_store;
    QLineEdit* m_module;
    QComboBox* m_result;
    QTreeWidget* m_list;
    QLabel* m_status;
    QtCharts::QChartView* m_perDay;
    QtCharts::QChartView* m_failures;
};
