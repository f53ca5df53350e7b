#pragma once

#include "station.h"

#include <QFrame>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

// One fixture of a station as the operator sees it: its number, the module in it, the unit's serial
// number (typed, or scanned: a scanner types it and presses Enter), the phase and progress of its update
// and a large PASS or FAIL, with Retry and flash-on-plug.
class StationTile : public QFrame
{
    Q_OBJECT
public:
    StationTile(int number, QWidget* parent = nullptr);

    void showFixture(const Station::Fixture& fixture);
    // Takes the scanner's next number, replacing what the field holds.
    void focusSerial();
    // Why the serial number just entered was refused; empty clears the note.
    void refuseSerial(const QString& reason);

signals:
    void serialEntered(const QString& number);
    void retryClicked();
    void flashOnPlugToggled(bool on);

private:
    QLabel* m_module;
    QLineEdit* m_serial;
    QLabel* m_phase;
    QProgressBar* m_progress;
    QLabel* m_verdict;
    QLabel* m_message;
    QPushButton* m_retry;
    QCheckBox* m_flashOnPlug;
};
