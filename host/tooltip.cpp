#include "tooltip.h"

#include <algorithm>

ToolTip::ToolTip(int style, double scale, int columns, const QColor& color)
    : m_style(style)
    , m_scale(scale)
    , m_columns(std::max(1, columns))
    , m_color(color)
{
}

void ToolTip::addCaption(const QString& caption)
{
    m_caption = caption;
}

void ToolTip::addToolTip(const QStringList& lines)
{
    m_lines.append(lines);
}

QString ToolTip::getToolTip() const
{
    const int fontPercent = qRound(100 * m_scale);
    QString html = QStringLiteral("<div style=\"color: %1; font-size: %2%;\">").arg(m_color.name()).arg(fontPercent);
    if (!m_caption.isEmpty())
        html += QStringLiteral("<p><b>%1</b></p>").arg(m_caption);
    html += QStringLiteral("<table>");
    for (int i = 0; i < m_lines.size(); i += m_columns) {
        html += QStringLiteral("<tr>");
        for (int column = 0; column < m_columns && i + column < m_lines.size(); ++column) {
            const QString bullet = m_style == 0 ? QStringLiteral("&bull; ") : QString();
            html += QStringLiteral("<td>%1%2</td>").arg(bullet, m_lines.at(i + column));
        }
        html += QStringLiteral("</tr>");
    }
    html += QStringLiteral("</table></div>");
    return html;
}
