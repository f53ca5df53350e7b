#include "filesystemmodel.h"

FileSystemModel::FileSystemModel(QObject* parent)
    : QFileSystemModel(parent)
{
}

FileSystemModel::~FileSystemModel() = default;

int FileSystemModel::columnCount(const QModelIndex& parent) const
{
    return QFileSystemModel::columnCount(parent) + 1;
}

QVariant FileSystemModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() != columnCount(index.parent()) - 1)
        return QFileSystemModel::data(index, role);
    if (role == Qt::DisplayRole)
        return firmwareVersions.value(fileInfo(index).absoluteFilePath());
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignLeft);
    return QFileSystemModel::data(index, role);
}
