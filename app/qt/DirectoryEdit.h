// The folder edit `TAdvDirectoryEdit`: a line edit with a browse button (and
// F4) that opens the folder chooser. It reports every change of its text; what
// a change means (the image folder scan) is decided by its owner, not here.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

class QLineEdit;
class QToolButton;

class TAdvDirectoryEdit : public QWidget {
    Q_OBJECT

public:
    explicit TAdvDirectoryEdit(QWidget* parent = nullptr);

    /// The folder as typed or chosen.
    QString Text() const;
    /// Sets the text; a different text raises Change.
    void SetText(const QString& text);
    /// True while SetText (or the chooser through it) sets the text: a
    /// Change then comes from it, not from the user's editing.
    bool Setting() const { return setting_; }
    /// The edit part, which has the focus and takes F4.
    QLineEdit* Edit() const { return edit_; }
    /// The browse button, 18 wide with a folder picture; Tab reaches it, a
    /// click leaves the focus where it was.
    QToolButton* BrowseButton() const { return button_; }

    /// Opens the folder chooser on the edit's folder (the current folder when
    /// empty); a confirmed folder that differs from the text becomes the text.
    void Browse();

    /// Where the chooser of the given size goes: its top-left at anchor (the
    /// edit's bottom-left), moved left by its width when it would pass the
    /// work area's right edge, and up to 64 pixels above the work area's
    /// bottom when it would reach that edge.
    static QPoint ChooserPosition(QPoint anchor, QSize size, QRect workArea);

    static constexpr char ChooserTitle[] = "Select Directory";
    static constexpr int ButtonWidth = 18;

signals:
    /// Every change of the text: typing, pasting, the chooser, SetText.
    void Change();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* edit_;
    QToolButton* button_;
    bool setting_ = false;
};
