#include "CEntryDelegate.h"

#include "EntryState.h"

#include <QtGui/QPainter>

namespace {

const int kGap = 16;

QColor StatusColour(EntryState state, const QStyleOptionViewItem& option) {
    if (option.state & QStyle::State_Selected)
        return option.palette.color(QPalette::HighlightedText);
    switch (state) {
    case EntryState::Failed:
        return QColor("#ff6b6b");
    case EntryState::Stopped:
        return QColor("#f0b429");
    case EntryState::Damaged:
        return QColor("#ff9f43");
    case EntryState::Done:
        return QColor("#5cc98b");
    case EntryState::Running:
        return QColor("#6fa8ff");
    case EntryState::Waiting:
        break;
    }
    return option.palette.color(QPalette::Text);
}

} // namespace

int CEntryDelegate::StatusWidth(const QStyleOptionViewItem& option, const QModelIndex& index) {
    const QString status = index.data(EntryRole::kStatusText).toString();
    if (status.isEmpty())
        return 0;
    const int width = option.fontMetrics.horizontalAdvance(status) + kGap;
    return qMin(width, option.rect.width() / 2);
}

void CEntryDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    const int status = StatusWidth(*option, index);
    if (status == 0)
        return;
    const int room = option->rect.width() - status - option->decorationSize.width() - kGap;
    option->text = option->fontMetrics.elidedText(option->text, Qt::ElideMiddle, qMax(room, 0));
}

void CEntryDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
    QStyledItemDelegate::paint(painter, option, index);
    const int width = StatusWidth(option, index);
    if (width == 0)
        return;
    const QString status = index.data(EntryRole::kStatusText).toString();
    const auto state = static_cast<EntryState>(index.data(EntryRole::kState).toInt());
    QRect area = option.rect.adjusted(0, 0, -8, 0);
    area.setLeft(area.right() - width + kGap);
    painter->save();
    painter->setPen(StatusColour(state, option));
    painter->drawText(area, Qt::AlignRight | Qt::AlignVCenter,
                      option.fontMetrics.elidedText(status, Qt::ElideRight, area.width()));
    painter->restore();
}
