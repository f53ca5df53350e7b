#include "firmwarefilecheck.h"

#include "firmwareimage.h"

FirmwareFileCheck FirmwareFileCheck::of(const QString& fileName)
{
    const FirmwareImage image = FirmwareImage::load(fileName);
    return FirmwareFileCheck{image.identifier(), image.problem(), image.warning()};
}
