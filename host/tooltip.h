#pragma once

#include <QColor>
#include <QString>
#include <QStringList>

// Builds the rich-text tool tips of the host: a caption over a list of lines.
class ToolTip
{
public:
    // `style` 0 is the plain list style; `scale` scales the font; `columns` lines per row.
    ToolTip(int style, double scale, int columns, const QColor& color);

    void addCaption(const QString& caption);
    void addToolTip(const QStringList& lines);
    QString getToolTip() const;

private:
    int m_style;
    double m_scale;
    int m_columns;
    QColor m_color;
    QString m_caption;
    QStringList m_lines;
};
