#pragma once

namespace Ui {
class FirmwareUpdate;
}

// Gives the form's value fields room for the widest value they show (program size, checksum, firmware
// versions), so that the form's minimum size, and with it its window's, keeps every value readable.
void reserveValueFieldWidths(Ui::FirmwareUpdate* form);
