#pragma once

#include <QtWidgets/QStyledItemDelegate>

// Draws a recording-list entry as usual (icon, path) with its status text at the right: the
// progress of a running export, what a finished one wrote, or why it failed. The path is
// shortened in the middle where both would not fit.
class CEntryDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    static int StatusWidth(const QStyleOptionViewItem& option, const QModelIndex& index);
};
