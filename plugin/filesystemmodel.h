#pragma once

#include <QFileSystemModel>
#include <QMap>
#include <QString>

// The file list of the firmware pool, with one more column that shows the firmware identifier of each file.
class FileSystemModel : public QFileSystemModel
{
    Q_OBJECT
public:
    explicit FileSystemModel(QObject* parent = nullptr);
    ~FileSystemModel() override;

    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Absolute file path to the text of the extra column (an identifier, or "no FW" for a non-HEX file).
    QMap<QString, QString> firmwareVersions;
};
