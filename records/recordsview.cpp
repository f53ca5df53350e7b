#include "recordsview.h"

#include "recordsummary.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QChartView>
#include <QtCharts/QStackedBarSeries>
#include <QtCharts/QValueAxis>

using namespace QtCharts;

namespace {

constexpr int ChartHeight = 260;
constexpr int MaxTicks = 5;
// Stretch of the per-day chart against the failures chart.
constexpr int PerDayStretch = 3;
constexpr int FailuresStretch = 2;
// What the view shows of the records' English values, in the user's language; filters keep the values.
constexpr const char* ResultTexts[] = {QT_TRANSLATE_NOOP("RecordsView", "updated"), QT_TRANSLATE_NOOP("RecordsView", "failed"),
                                       QT_TRANSLATE_NOOP("RecordsView", "interrupted"),
                                       QT_TRANSLATE_NOOP("RecordsView", "skipped"),
                                       QT_TRANSLATE_NOOP("RecordsView", "not started"),
                                       QT_TRANSLATE_NOOP("RecordsView", "resumed"),
                                       QT_TRANSLATE_NOOP("RecordsView", "line stopped"),
                                       QT_TRANSLATE_NOOP("RecordsView", "line restarted")};
constexpr const char* PhaseTexts[] = {
    QT_TRANSLATE_NOOP("RecordsView", "entry"),   QT_TRANSLATE_NOOP("RecordsView", "detection"),
    QT_TRANSLATE_NOOP("RecordsView", "parameters"), QT_TRANSLATE_NOOP("RecordsView", "erase"),
    QT_TRANSLATE_NOOP("RecordsView", "write"),   QT_TRANSLATE_NOOP("RecordsView", "verify"),
    QT_TRANSLATE_NOOP("RecordsView", "store"),   QT_TRANSLATE_NOOP("RecordsView", "restart"),
    QT_TRANSLATE_NOOP("RecordsView", "reconnect")};

const QVector<UpdateRecord::Result> AllResults = {UpdateRecord::Result::Updated, UpdateRecord::Result::Failed,
                                                  UpdateRecord::Result::Interrupted, UpdateRecord::Result::Skipped,
                                                  UpdateRecord::Result::NotStarted, UpdateRecord::Result::Resumed};

// A bar chart of `series` over the categories, counts upwards from 0.
void showBars(QChartView* view, const QString& title, QAbstractBarSeries* series, const QStringList& categories)
{
    auto* chart = new QChart;
    chart->setTitle(title);
    chart->addSeries(series);
    auto* x = new QBarCategoryAxis;
    x->append(categories);
    chart->addAxis(x, Qt::AlignBottom);
    series->attachAxis(x);
    // Whole counts: ticks a whole number apart, about MaxTicks of them.
    int highest = 1;
    for (const QBarSet* set : series->barSets()) {
        for (int i = 0; i < set->count(); ++i)
            highest = qMax(highest, int(set->at(i)));
    }
    if (qobject_cast<QStackedBarSeries*>(series)) {
        highest = 1;
        for (int i = 0; i < categories.size(); ++i) {
            int stacked = 0;
            for (const QBarSet* set : series->barSets())
                stacked += int(set->at(i));
            highest = qMax(highest, stacked);
        }
    }
    const int step = (highest + MaxTicks - 1) / MaxTicks;
    auto* y = new QValueAxis;
    y->setLabelFormat(QStringLiteral("%d"));
    y->setTickType(QValueAxis::TicksDynamic);
    y->setTickAnchor(0);
    y->setTickInterval(step);
    y->setRange(0, ((highest + step - 1) / step) * step);
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(y);
    chart->legend()->setVisible(series->count() > 1);
    // At the right, one entry a line: a row below the bars cuts the longer (German) names short.
    chart->legend()->setAlignment(Qt::AlignRight);
    QChart* old = view->chart();
    view->setChart(chart);
    delete old;
}

}

RecordsView::RecordsView(const QString& location, QWidget* parent)
    : QWidget(parent)
    , m_store(location)
    , m_module(new QLineEdit)
    , m_result(new QComboBox)
    , m_list(new QTreeWidget)
    , m_status(new QLabel)
    , m_perDay(new QChartView)
    , m_failures(new QChartView)
{
    m_module->setObjectName(QStringLiteral("moduleFilter"));
    m_module->setPlaceholderText(tr("Module key"));
    m_result->setObjectName(QStringLiteral("resultFilter"));
    m_result->addItem(tr("All results"));
    for (UpdateRecord::Result result : AllResults)
        m_result->addItem(shownResult(result), UpdateRecord::resultName(result));
    auto* reload = new QPushButton(tr("Refresh"));
    auto* filters = new QHBoxLayout;
    filters->addWidget(m_module, 1);
    filters->addWidget(m_result);
    filters->addWidget(reload);

    m_list->setObjectName(QStringLiteral("recordsList"));
    m_list->setRootIsDecorated(false);
    m_list->setHeaderLabels({tr("Started (UTC)"), tr("Module"), tr("Firmware"), tr("Result"), tr("Phase"),
                             tr("Station"), tr("Failure")});
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_status->setObjectName(QStringLiteral("recordsStatus"));
    m_perDay->setObjectName(QStringLiteral("perDayChart"));
    m_failures->setObjectName(QStringLiteral("failuresChart"));
    for (QChartView* view : {m_perDay, m_failures}) {
        view->setRenderHint(QPainter::Antialiasing);
        view->setMinimumHeight(ChartHeight);
    }
    auto* charts = new QHBoxLayout;
    charts->addWidget(m_perDay, PerDayStretch);
    charts->addWidget(m_failures, FailuresStretch);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_status);
    layout->addLayout(charts);

    connect(m_module, &QLineEdit::editingFinished, this, &RecordsView::refresh);
    connect(m_result, qOverload<int>(&QComboBox::currentIndexChanged), this, &RecordsView::refresh);
    connect(reload, &QPushButton::clicked, this, &RecordsView::refresh);
    refresh();
}

void RecordsView::refresh()
{
    RecordStore::Filter filter;
    filter.module = m_module->text().trimmed();
    filter.result = m_result->currentData().toString();
    filter.limit = LatestCount;
    bool ok = false;
    const QVector<UpdateRecord> latest = m_store.select(filter, &ok);
    m_list->clear();
    if (!ok) {
        m_status->setText(m_store.errorString());
        return;
    }
    for (const UpdateRecord& record : latest) {
        m_list->addTopLevelItem(new QTreeWidgetItem(
            {record.startedUtc.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), record.moduleKey, record.fileIdentifier,
             shownResult(record.result), shownPhase(record.phase), record.station, record.failureText}));
    }
    filter.limit = 0;
    filter.since = QDateTime(QDate::currentDate().addDays(1 - ChartDays), QTime(0, 0), Qt::UTC);
    const RecordSummary summary = RecordSummary::of(m_store.select(filter));
    m_status->setText(tr("%n record(s) shown; %1 in the last %2 days", nullptr, latest.size())
                          .arg(summary.total)
                          .arg(ChartDays));
    drawCharts(summary);
}

void RecordsView::drawCharts(const RecordSummary& summary)
{
    QStringList days;
    for (auto it = summary.perDay.cbegin(); it != summary.perDay.cend(); ++it)
        days.append(it.key().toString(QStringLiteral("dd")));
    auto* perDay = new QStackedBarSeries;
    for (UpdateRecord::Result result : AllResults) {
        const QString name = UpdateRecord::resultName(result);
        auto* set = new QBarSet(shownResult(result));
        for (const RecordSummary::Counts& counts : summary.perDay)
            set->append(counts.value(name));
        perDay->append(set);
    }
    showBars(m_perDay, tr("Updates per day (UTC) by result"), perDay, days);

    auto* failures = new QBarSeries;
    auto* failed = new QBarSet(shownResult(UpdateRecord::Result::Failed));
    for (int count : summary.failuresByPhase)
        failed->append(count);
    failures->append(failed);
    QStringList phases;
    for (const QString& phase : summary.failuresByPhase.keys())
        phases.append(shownPhase(phase));
    showBars(m_failures, tr("Failures by phase"), failures, phases);
}

QString RecordsView::shownResult(UpdateRecord::Result result)
{
    return tr(ResultTexts[int(result)]);
}

QString RecordsView::shownPhase(const QString& phase)
{
    for (const char* text : PhaseTexts) {
        if (phase == QLatin1String(text))
            return tr(text);
    }
    return phase;
}
