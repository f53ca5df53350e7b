#include "firmwareupdaterthread.h"

void FirmwareUpdaterThread::run()
{
    emit handleUpdateCompleted(false);
}
