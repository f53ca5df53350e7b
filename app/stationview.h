#pragma once

#include <QWidget>

class QFrame;
class QGridLayout;
class QLayout;
class QLabel;
class Station;
class StationTile;

// The station's window: the shift's counts, the line stop with its acknowledgement, Start all, and a
// tile per fixture.
class StationView : public QWidget
{
    Q_OBJECT
public:
    explicit StationView(Station* station, QWidget* parent = nullptr);

private:
    // The operator, the counts and Start all, above the most frequent failures.
    QLayout* buildHeader(const QString& operatorName);
    // The line stop's reason and its acknowledgement, shown while the line is stopped.
    void buildStopBanner();
    // The tiles, scrolled when there are more than fit.
    QWidget* buildTileArea();
    void addTile(int index);
    void showCounts();
    void showStop();

    Station* m_station;
    QLabel* m_counts;
    QLabel* m_failures;
    QFrame* m_banner;
    QLabel* m_stopReason;
    QGridLayout* m_tiles;
    QList<StationTile*> m_tileList;
};
