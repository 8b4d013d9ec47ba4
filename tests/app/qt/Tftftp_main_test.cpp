// The main window as a user meets it: the start-up state and layout, the
// address field however it is entered and its box, Connect and Upload
// against a simulated unit on loopback, Upload offered only for the unit
// connected and what it refuses before any command, the error box, the
// controls during a run, the status label's outcome, a run's button as its
// Cancel, the log's menu, and a close during a run with its question. Each
// test that starts a unit has an address of its own, so that ctest may run
// them side by side.
#include "app/qt/Tftftp_main.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <gtest/gtest.h>

#include "QtTestSupport.h"
#include "app/WindowLayout.h"
#include "app/qt/DirectoryEdit.h"
#include "app/qt/MaskEdit.h"
#include "tests/app/WindowRows.h"
#include "tests/support/ImageFolder.h"
#include "tools/unit-sim/UnitSim.h"

namespace {

using TLines = std::vector<std::string>;

// A unit of revision 171 on address, and an image folder that offers one
// image of each kind.
struct TUnit {
    TTempFolder images;
    std::vector<std::uint8_t> pages = ImageBytes(true, 0, 1500);
    std::vector<std::uint8_t> program = ImageBytes(false, 1, 3000);
    std::unique_ptr<TUnitSim> sim;

    explicit TUnit(const TUnitSimSettings& settings) {
        images.Write("pagesV1.bin", pages);
        images.Write("boot.bin", program);
        sim = std::make_unique<TUnitSim>(settings);
        sim->Start();
    }
    explicit TUnit(const char* address, bool neverComesBack = false, bool tftpSilent = false)
        : TUnit([&] {
              TUnitSimSettings settings;
              settings.Address = address;
              settings.Revision = "171";
              settings.NeverComesBack = neverComesBack;
              settings.TftpSilent = tftpSilent;
              return settings;
          }()) {}
};

/// Types the address (its digits, with or without dots) over the whole
/// address field and leaves it for the log.
void TypeAddress(Tftftp_main& window, const char* digits) {
    window.ipedit->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(WaitFor([&] { return window.ipedit->hasFocus(); }));
    window.ipedit->selectAll();
    QTest::keyClicks(window.ipedit, QString::fromLatin1(digits));
    window.ListBox1->setFocus(Qt::TabFocusReason);
}

/// Points the window at the unit's images and address, and connects.
void ConnectTo(Tftftp_main& window, const TUnit& unit, const char* digits) {
    window.SetDirEditText(unit.images.Path());
    TypeAddress(window, digits);
    QTest::mouseClick(window.connectbut, Qt::LeftButton);
}

TLines Log(const Tftftp_main& window) {
    TLines lines;
    for (int i = 0; i < window.ListBox1->count(); ++i)
        lines.push_back(window.ListBox1->item(i)->text().toStdString());
    return lines;
}

/// The window, with a program folder of the test's choosing.
class TWindow : public Tftftp_main {
public:
    std::string Folder;
    std::string ProgramFolder() override {
        return Folder.empty() ? Tftftp_main::ProgramFolder() : Folder;
    }
};

class WindowTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ShowActive(window)); }
    std::vector<QString> BoxesDuring(const std::function<void()>& action, std::size_t expected) {
        return AnswerBoxesDuring([this] { return window.ErrorBox(); }, action, expected);
    }
    TWindow window;
};

} // namespace

TEST_F(WindowTest, StartsWithTheLayoutAndTheGroupHidden) {
    EXPECT_EQ(window.objectName(), QStringLiteral("ftftp_main"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("TFTP Upload Utility"));
    // Centred on its screen, but for the frame that the window manager
    // adds once the window is shown.
    const QRect frame = window.frameGeometry();
    EXPECT_LE((frame.center() - window.screen()->availableGeometry().center()).manhattanLength(),
              frame.width() - window.width() + frame.height() - window.height());
    using L = TWindowLayout;
    EXPECT_EQ(window.size(), QSize(L::ClientWidth, L::ClientHeight)); // the client area
    struct TRow {
        QWidget* control;
        TLayoutRect place;
    };
    const TRow rows[] = {
        {window.ListBox1, L::Log},
        {window.ipedit, L::Address},
        {window.connectbut, L::Connect},
        {window.filegroup, L::FileGroup},
        {window.diredit, L::Folder},
        {window.file1edit, L::WebPages},
        {window.file2edit, L::Programs},
        {window.uploadbut, L::Upload},
        {window.transferbar, L::TransferBar},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.control->objectName().toStdString());
        EXPECT_EQ(row.control->geometry(),
                  QRect(row.place.Left, row.place.Top, row.place.Width, row.place.Height));
    }
    EXPECT_EQ(window.Label1->pos(), QPoint(L::AddressLabel.Left, L::AddressLabel.Top));
    EXPECT_EQ(window.Label1->text(), QStringLiteral("IP Address:"));
    EXPECT_EQ(window.statuslab->pos(), QPoint(L::Status.Left, L::Status.Top));
    EXPECT_TRUE(window.statuslab->text().isEmpty());
    EXPECT_EQ(window.ListBox1->count(), 0);
    EXPECT_FALSE(window.filegroup->isVisible());
    EXPECT_FALSE(window.transferbar->isVisible());
    EXPECT_EQ(window.ListItemIndex(TImageList::ilWebPages), -1);
    EXPECT_EQ(window.ListItemIndex(TImageList::ilPrograms), -1);
    EXPECT_EQ(window.ReadAddress(), std::string("192.168.100.100"));
    EXPECT_EQ(window.font().family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(window.font().pointSize(), 8);
    EXPECT_EQ(window.statuslab->font().pointSize(), 10);
    EXPECT_FALSE(window.windowIcon().pixmap(32).isNull());

    // The tab order, with the group shown; a combo box's own line edit
    // stands for the combo box.
    window.filegroup->setVisible(true);
    EXPECT_EQ(window.diredit->BrowseButton()->geometry(), QRect(233, 0, 18, 21));
    const std::vector<QWidget*> expected = {window.ListBox1,
                                            window.ipedit,
                                            window.connectbut,
                                            window.diredit->Edit(),
                                            window.diredit->BrowseButton(),
                                            window.file1edit,
                                            window.file2edit,
                                            window.uploadbut};
    std::vector<QWidget*> chain;
    QWidget* w = window.ListBox1;
    do {
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(&window) &&
            w->parentWidget() != window.file1edit && w->parentWidget() != window.file2edit)
            chain.push_back(w);
        w = w->nextInFocusChain();
    } while (w != window.ListBox1 && chain.size() < 20);
    EXPECT_EQ(chain, expected);
}

TEST_F(WindowTest, EveryControlTellsAScreenReaderWhatItIs) {
    const auto text = [](QWidget* widget, QAccessible::Text part) {
        QAccessibleInterface* object = QAccessible::queryAccessibleInterface(widget);
        return object == nullptr ? QStringLiteral("(none)") : object->text(part);
    };
    for (const TNameRow& row : NameRows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(text(window.Controls()[row.Control], QAccessible::Name),
                  QString::fromLatin1(row.Name));
    }
    // The status label is called what it is; what it says is its description.
    window.SetStatus("Update successful");
    EXPECT_EQ(text(window.statuslab, QAccessible::Name), QString::fromLatin1(StatusName));
    EXPECT_EQ(text(window.statuslab, QAccessible::Description),
              QStringLiteral("Update successful"));
    // The browse button names the key that does the same in the edit.
    EXPECT_EQ(window.diredit->BrowseButton()->toolTip(),
              QStringLiteral("Choose the image folder (F4)"));
}

TEST_F(WindowTest, StatusLabelReadsOnThePaletteInBlueAndAfterAFailureInRed) {
    const auto palette = [](QColor window, QColor link) {
        QPalette p = QApplication::palette();
        p.setColor(QPalette::Window, window);
        p.setColor(QPalette::Link, link);
        return p;
    };
    struct TRow {
        const char* name;
        QPalette palette;
        QColor blue, red;
    };
    const QColor deepRed(0xc0, 0x00, 0x00), lightRed(0xff, 0x80, 0x80);
    const TRow rows[] = {
        {"light, its link colour", palette(QColor(0xf0, 0xf0, 0xf0), Qt::blue), Qt::blue, deepRed},
        {"dark, its own light link colour",
         palette(QColor(0x2d, 0x2d, 0x2d), QColor(0x8a, 0xb4, 0xf8)), QColor(0x8a, 0xb4, 0xf8),
         lightRed},
        {"dark that kept the light link colour", palette(QColor(0x2d, 0x2d, 0x2d), Qt::blue),
         QColor(0x6c, 0xb4, 0xff), lightRed},
        {"light with a pale link colour", palette(Qt::white, QColor(0xa0, 0xc0, 0xff)), Qt::blue,
         deepRed},
    };
    const auto expectEach = [&](QColor TRow::*colour) {
        for (const TRow& row : rows) {
            SCOPED_TRACE(row.name);
            window.setPalette(row.palette);
            EXPECT_EQ(window.statuslab->palette().color(QPalette::WindowText), row.*colour);
        }
    };
    expectEach(&TRow::blue);
    // A Connect that finds no unit (nothing listens there) ends in red.
    TypeAddress(window, "127000018001");
    QTest::mouseClick(window.connectbut, Qt::LeftButton);
    ASSERT_EQ(Log(window).size(), 2u);
    expectEach(&TRow::red);
}

TEST_F(WindowTest, TheReadmeWalkThroughUpdatesTheUnit) {
    // As the README says, with the unit's own address: a click anywhere in
    // the address field selects its text, the address typed with its dots
    // replaces it, Enter connects; type the folder key by key, and press
    // Upload (here by Enter).
    const TUnit unit("127.0.0.105");
    TTempFolder programFolder; // where Connect points the empty folder edit
    window.Folder = programFolder.Path();
    QTest::mouseClick(window.ipedit, Qt::LeftButton, {}, QPoint(50, 10)); // mid-field
    QTest::keyClicks(window.ipedit, QStringLiteral("127.0.0.105"));
    EXPECT_EQ(window.ipedit->MaskedText(), QStringLiteral("127.000.000.105"));
    QTest::keyClick(window.ipedit, Qt::Key_Return);
    EXPECT_EQ(Log(window), TLines{"Connected, H/W revision 171"});
    // The focus is back on a control that shows it, not on the log.
    EXPECT_EQ(QApplication::focusWidget(), window.ipedit);
    EXPECT_EQ(window.DirEditText(), programFolder.Path());

    QLineEdit* folder = window.diredit->Edit();
    QTest::mouseClick(folder, Qt::LeftButton);
    QTest::keyClick(folder, Qt::Key_A, Qt::ControlModifier);
    const QString path = QString::fromStdString(unit.images.Path());
    // The lists fill once typing pauses.
    const auto boxes = BoxesDuring([&] { QTest::keyClicks(folder, path); }, 0);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(folder->text(), path);
    EXPECT_TRUE(folder->hasFocus());
    EXPECT_TRUE(WaitFor([&] { return window.file2edit->currentText() == "boot.bin"; }));
    EXPECT_EQ(window.file1edit->currentText(), QStringLiteral("pagesV1.bin"));

    window.uploadbut->setFocus(Qt::TabFocusReason);
    QTest::keyClick(window.uploadbut, Qt::Key_Return);
    EXPECT_EQ(Log(window).back(), "Update successful");
    EXPECT_EQ(unit.sim->Images().size(), 2u);
    EXPECT_EQ(QApplication::focusWidget(), window.uploadbut);
    Picture(window, "success");
}

TEST_F(WindowTest, AnUploadThatTheUnitRefusesEndsInRed) {
    const TUnit unit(RefusingUnit("127.0.41.5"));
    ConnectTo(window, unit, "127.0.41.5");
    const QColor normal = window.statuslab->palette().color(QPalette::WindowText);
    QTest::mouseClick(window.uploadbut, Qt::LeftButton);
    EXPECT_EQ(Log(window), RefusedUploadLog);
    EXPECT_EQ(window.StatusText().toStdString(), RefusedUploadLog.back());
    EXPECT_NE(window.statuslab->palette().color(QPalette::WindowText), normal);
    Picture(window, "failure");
}

TEST_F(WindowTest, AnEmptyGroupShowsTheBoxAndKeepsTheFocus) {
    // Should Connect run after all, it goes to loopback, never to the default.
    TypeAddress(window, "127000000101");
    window.ipedit->setFocus(Qt::TabFocusReason);
    window.ipedit->setSelection(4, 3);
    QTest::keyClick(window.ipedit, Qt::Key_Delete);
    ASSERT_EQ(window.ReadAddress(), "127.   .000.101"); // read with the field focused
    // A click on Connect leaves the field: it is refused, and Connect does not run.
    const auto texts =
        BoxesDuring([&] { QTest::mouseClick(window.connectbut, Qt::LeftButton); }, 1);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], QStringLiteral("The second group must be 0 to 255."));
    ASSERT_TRUE(ShowActive(window)); // offscreen, the activation is the test's to do
    EXPECT_TRUE(window.ipedit->hasFocus());
    EXPECT_EQ(window.ipedit->cursorPosition(), 4);
    EXPECT_EQ(window.ListBox1->count(), 0);
    // A digit above the group's range is refused where it is typed, with the
    // same box; the digits before it stay.
    const auto typed =
        BoxesDuring([&] { QTest::keyClicks(window.ipedit, QStringLiteral("260")); }, 1);
    EXPECT_EQ(typed, std::vector<QString>{QStringLiteral("The second group must be 0 to 255.")});
    ASSERT_TRUE(ShowActive(window));
    EXPECT_EQ(window.ipedit->MaskedText(), QStringLiteral("127.26 .000.101"));
    // Escape abandons the change; then the field may be left without a box.
    QTest::keyClick(window.ipedit, Qt::Key_Escape);
    EXPECT_EQ(window.ReadAddress(), "127.000.000.101");
    EXPECT_TRUE(BoxesDuring([&] { QTest::keyClick(window.ipedit, Qt::Key_Tab); }, 0).empty());
    EXPECT_TRUE(window.connectbut->hasFocus());
}

TEST(WindowAddress, HoweverTheFieldIsEnteredTheAddressTypedReplacesIt) {
    const QPoint mid(50, 10); // where a click puts the caret among the digits
    const auto enter = [mid](Tftftp_main& w, TEntering how) {
        switch (how) {
        case TEntering::enActivatingClick: {
            QWidget other; // active, as a window opened in the background finds it
            EXPECT_TRUE(ShowActive(other));
            QTest::mousePress(w.ipedit, Qt::LeftButton, {}, mid);
            EXPECT_TRUE(ShowActive(w));
            QTest::mouseRelease(w.ipedit, Qt::LeftButton, {}, mid);
            return;
        }
        case TEntering::enTab:
            w.ListBox1->setFocus(Qt::OtherFocusReason);
            QTest::keyClick(w.ListBox1, Qt::Key_Tab);
            return;
        case TEntering::enShiftTab:
            w.connectbut->setFocus(Qt::TabFocusReason);
            QTest::keyClick(w.connectbut, Qt::Key_Tab, Qt::ShiftModifier);
            return;
        case TEntering::enFocusBackAfterEnter:
        case TEntering::enClickAfterEnter:
            QTest::mouseClick(w.ipedit, Qt::LeftButton, {}, mid);
            QTest::keyClicks(w.ipedit, QStringLiteral("127.0.41.9"));
            QTest::keyClick(w.ipedit, Qt::Key_Return);
            EXPECT_EQ(w.ListBox1->count(), 2);
            if (how == TEntering::enFocusBackAfterEnter)
                return;
            [[fallthrough]];
        case TEntering::enClick:
            QTest::mouseClick(w.ipedit, Qt::LeftButton, {}, mid);
            return;
        }
    };
    for (const TEnteringRow& row : EnteringRows) {
        SCOPED_TRACE(row.Name);
        Tftftp_main window;
        ASSERT_TRUE(ShowActive(window));
        enter(window, row.How);
        ASSERT_TRUE(window.ipedit->hasFocus());
        QTest::keyClicks(window.ipedit, QString::fromLatin1(row.Typed));
        EXPECT_EQ(window.ReadAddress(), EnteredAddress);
        // Typed into, the field places the caret where it is clicked.
        QTest::mouseClick(window.ipedit, Qt::LeftButton, {}, QPoint(5, 10));
        EXPECT_FALSE(window.ipedit->hasSelectedText());
    }
}

TEST_F(WindowTest, UploadIsOfferedOnlyForTheAddressConnected) {
    const TUnit first("127.0.41.2");
    const TUnit second("127.0.41.3");
    ConnectTo(window, first, "127.0.41.2");
    ASSERT_TRUE(window.uploadbut->isEnabled());
    for (const TOfferRow& row : OfferRows("127.0.41.2", "127.0.41.3")) {
        SCOPED_TRACE(row.Name);
        TypeAddress(window, row.Address.c_str());
        if (row.Connect)
            QTest::mouseClick(window.connectbut, Qt::LeftButton);
        EXPECT_TRUE(window.filegroup->isVisible());
        EXPECT_EQ(window.uploadbut->isEnabled(), row.Offered);
        EXPECT_EQ(window.StatusText().toStdString(), row.Status);
    }
}

TEST_F(WindowTest, UploadRefusesImagesItCannotVouchForBeforeAnyCommand) {
    const TUnit unit("127.0.41.4");
    ConnectTo(window, unit, "127.0.41.4");
    const QColor normal = window.statuslab->palette().color(QPalette::WindowText);
    TTempFolder empty;
    for (const TRefusalRow& row : RefusalRows(unit.images.Path(), empty.Path())) {
        SCOPED_TRACE(row.Name);
        if (!row.Sha256Sums.empty())
            unit.images.Write("SHA256SUMS", {row.Sha256Sums.begin(), row.Sha256Sums.end()});
        window.SetDirEditText(row.Folder);
        const auto boxes = BoxesDuring([&] { QTest::mouseClick(window.uploadbut, Qt::LeftButton); },
                                       row.Box.empty() ? 0 : 1);
        EXPECT_EQ(boxes, row.Box.empty() ? std::vector<QString>{}
                                         : std::vector<QString>{QString::fromStdString(row.Box)});
        EXPECT_EQ(Log(window).back().substr(0, row.Ends.size()), row.Ends);
        EXPECT_EQ(window.StatusText().toStdString().substr(0, row.Ends.size()), row.Ends);
        EXPECT_EQ(window.statuslab->palette().color(QPalette::WindowText) == normal, row.Sent);
        EXPECT_EQ(unit.sim->Images().size(), row.Sent ? 2u : 0u);
        if (!row.Sent) {
            EXPECT_EQ(unit.sim->Requests(), TLines{"/"});
        }
    }
}

TEST_F(WindowTest, ErrorBoxAddsThePeriodAndCarriesTheApplicationsName) {
    // Connect sets the empty folder edit to the program's folder, whose scan
    // fails inside the run: nothing answers on the address.
    TTempFolder folder;
    folder.Write("short.bin", std::vector<std::uint8_t>(10, 1));
    window.Folder = folder.Path();
    TypeAddress(window, "127000000101");
    QSignalSpy changes(window.diredit, &TAdvDirectoryEdit::Change);
    QString caption;
    QMessageBox::Icon icon{};
    int width = 0;
    QPoint centre;
    const auto texts = AnswerBoxesDuring(
        [&] {
            if (QMessageBox* box = window.ErrorBox(); box != nullptr && box->isVisible()) {
                caption = box->windowTitle();
                icon = box->icon();
                width = box->width();
                centre = box->geometry().center();
            }
            return window.ErrorBox();
        },
        [&] { QTest::mouseClick(window.connectbut, Qt::LeftButton); }, 1);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], QStringLiteral("Read beyond end of file."));
    EXPECT_EQ(caption, QStringLiteral("Tessik TFTP Loader"));
    EXPECT_EQ(icon, QMessageBox::Critical);
    // The window's box, over it.
    EXPECT_LE((centre - window.geometry().center()).manhattanLength(), 2);
    // Wide enough for the caption in a title bar's larger bold font beside
    // its buttons, though the text is short.
    QFont title = QApplication::font();
    title.setBold(true);
    title.setPointSizeF(title.pointSizeF() * 1.2);
    EXPECT_GT(width, QFontMetrics(title).horizontalAdvance(caption) + 3 * 24);
    // The box's failure ended the run: the log names the file, and says so
    // after its line.
    EXPECT_EQ(Log(window), (TLines{"Unable to Connect to 127.000.000.101",
                                   "Scan stopped at short.bin: Read beyond end of file",
                                   "Failed at connect: Read beyond end of file"}));
    // The failure did not cut the edit's change short on its way to the box.
    EXPECT_EQ(changes.count(), 1);
    // The window goes on, its controls usable again.
    EXPECT_TRUE(window.connectbut->isEnabled());
    EXPECT_TRUE(window.diredit->Edit()->isEnabled());
}

TEST_F(WindowTest, TypingAFolderOpensNoBoxTillItPausesOrEnterIsPressed) {
    const TStoppingFolder stopping;
    window.filegroup->setVisible(true);
    QLineEdit* folder = window.diredit->Edit();
    for (const TTypingRow& row : TypingRows(stopping)) {
        SCOPED_TRACE(row.Name);
        window.ClearLog();
        folder->setFocus(Qt::TabFocusReason);
        folder->selectAll();
        QTest::keyClick(folder, Qt::Key_Delete);
        std::vector<QString> boxes =
            BoxesDuring([&] { QTest::keyClicks(folder, QString::fromStdString(row.Typed)); }, 0);
        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(window.ListBox1->count(), 0);
        boxes = BoxesDuring(
            [&] {
                if (row.Enter)
                    QTest::keyClick(folder, Qt::Key_Return);
                else
                    QTest::qWait(2 * TWindowController::FolderPause.count());
            },
            row.Box ? 1 : 0);
        EXPECT_EQ(boxes, row.Box ? std::vector<QString>{QStringLiteral("Read beyond end of file.")}
                                 : std::vector<QString>{});
        EXPECT_EQ(Log(window), row.Box ? TLines{ScanStopped} : TLines{});
        EXPECT_EQ(window.file2edit->count(), row.Programs);
    }
}

TEST_F(WindowTest, ConnectShowsTheGroupAndFillsTheLists) {
    const TUnit unit("127.0.0.100");
    ConnectTo(window, unit, "127000000100");
    EXPECT_EQ(Log(window), TLines{"Connected, H/W revision 171"});
    EXPECT_TRUE(window.filegroup->isVisible());
    EXPECT_EQ(window.file1edit->currentText(), QStringLiteral("pagesV1.bin"));
    EXPECT_EQ(window.file2edit->currentText(), QStringLiteral("boot.bin"));
    // The lists take no typed text: they show the entry that Upload sends.
    QTest::keyClicks(window.file1edit, QStringLiteral("zz"));
    EXPECT_EQ(window.file1edit->currentText(), QStringLiteral("pagesV1.bin"));
    // However many images a folder offers, the open list shows at most
    // DropDownRows of them, and a scroll bar for the rest.
    for (const TOpenListRow& row : OpenListRows) {
        SCOPED_TRACE(row.Count);
        window.ListClear(TImageList::ilPrograms);
        for (int i = 0; i < row.Count; ++i)
            window.ListAppend(TImageList::ilPrograms, "boot" + std::to_string(i) + ".bin");
        window.file2edit->showPopup();
        QAbstractItemView* view = window.file2edit->view();
        ASSERT_TRUE(WaitFor([&] { return view->isVisible(); }));
        EXPECT_EQ(view->viewport()->height() / view->sizeHintForRow(0), row.Rows);
        EXPECT_EQ(view->verticalScrollBar()->isVisible(), row.ScrollBar);
        window.file2edit->hidePopup();
    }

    EXPECT_EQ(window.statuslab->text(), QStringLiteral("Connected"));
    const QColor normal = window.statuslab->palette().color(QPalette::WindowText);

    // A Connect that finds no unit appends its line, and one with why, and
    // hides the group again. Enter on the focused button presses it.
    TypeAddress(window, "127000000101");
    window.connectbut->setFocus(Qt::TabFocusReason);
    QTest::keyClick(window.connectbut, Qt::Key_Return);
    const TLines log = Log(window);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1], "Unable to Connect to 127.000.000.101");
    EXPECT_EQ(log[2].rfind("Failed at connect: ", 0), 0u) << log[2];
    EXPECT_FALSE(window.filegroup->isVisible());
    // The label shows the step and the cause, its words first, in another
    // colour, from the left of the strip under the log to its right end;
    // what does not fit is cut short there, and the tooltip holds it whole.
    EXPECT_EQ(log[2], "Failed at connect: Send request failed with error 12029 A connection with "
                      "the server could not be established.");
    EXPECT_EQ(window.StatusText(), QStringLiteral("Failed at connect: A connection with the server "
                                                  "could not be established (Send request failed "
                                                  "with error 12029)"));
    EXPECT_NE(window.statuslab->palette().color(QPalette::WindowText), normal);
    const QRect label = window.statuslab->geometry();
    EXPECT_GE(label.left(), window.transferbar->x());
    EXPECT_EQ(label.right(), window.ListBox1->geometry().right());
    const QString shown = window.statuslab->text();
    EXPECT_LE(window.statuslab->fontMetrics().horizontalAdvance(shown), label.width());
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Failed at connect: A connection")))
        << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
    EXPECT_EQ(window.statuslab->toolTip(), window.StatusText());

    // A good run brings the label back to its place and its colour.
    ASSERT_TRUE(ShowActive(window)); // offscreen, the drop-down list kept the activation
    ConnectTo(window, unit, "127000000100");
    EXPECT_EQ(window.statuslab->text(), QStringLiteral("Connected"));
    EXPECT_EQ(window.statuslab->pos(),
              QPoint(TWindowLayout::Status.Left, TWindowLayout::Status.Top));
    EXPECT_TRUE(window.statuslab->toolTip().isEmpty());
    EXPECT_EQ(window.statuslab->palette().color(QPalette::WindowText), normal);
}

TEST_F(WindowTest, UploadSendsBothImagesWithTheControlsDisabled) {
    const TUnit unit("127.0.0.102");
    ConnectTo(window, unit, "127000000102");
    ASSERT_TRUE(window.filegroup->isVisible());

    // Sampled from inside the run's pumps, as a user would see the window.
    // A run keeps its unit and images: nothing that chooses them is enabled;
    // Upload is the run's Cancel.
    const std::vector<QWidget*> choosers = {window.ipedit,          window.connectbut,
                                            window.diredit->Edit(), window.diredit->BrowseButton(),
                                            window.file1edit,       window.file2edit};
    const auto anyEnabled = [&] {
        return std::any_of(choosers.begin(), choosers.end(),
                           [](QWidget* w) { return w->isEnabled(); });
    };
    std::vector<bool> enabledWhileBusy;
    std::vector<QString> uploadWhileBusy;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (window.Loader().Busy()) {
            enabledWhileBusy.push_back(anyEnabled());
            uploadWhileBusy.push_back(window.uploadbut->isEnabled() ? window.uploadbut->text()
                                                                    : QString());
        }
    });
    sampler.start(20);
    std::vector<int> shares;
    QObject::connect(window.transferbar, &QProgressBar::valueChanged, [&](int value) {
        if (window.transferbar->isVisible())
            shares.push_back(value);
    });
    QTest::mouseClick(window.uploadbut, Qt::LeftButton);
    sampler.stop();

    EXPECT_EQ(Log(window),
              (TLines{"Rebooting unit", "Uploading Web page file pagesV1.bin",
                      "Web pages transfered", "Rebooting unit", "Uploading Program file boot.bin",
                      "Program transfered", "Update successful"}));
    const auto received = unit.sim->Images();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].RemoteName, "rrpages.bin");
    EXPECT_EQ(FileBytes(received[0].Path), unit.pages);
    EXPECT_EQ(received[1].RemoteName, "rrboot.bin");
    EXPECT_EQ(FileBytes(received[1].Path), unit.program);
    EXPECT_EQ(window.statuslab->text(), QStringLiteral("Update successful"));

    ASSERT_FALSE(enabledWhileBusy.empty());
    EXPECT_EQ(std::count(enabledWhileBusy.begin(), enabledWhileBusy.end(), true), 0);
    EXPECT_EQ(std::count(uploadWhileBusy.begin(), uploadWhileBusy.end(), QStringLiteral("Cancel")),
              static_cast<std::ptrdiff_t>(uploadWhileBusy.size()));
    const TLayoutRect upload = TWindowLayout::Upload;
    EXPECT_EQ(window.uploadbut->geometry(),
              QRect(upload.Left, upload.Top, upload.Width, upload.Height));
    EXPECT_TRUE(
        std::all_of(choosers.begin(), choosers.end(), [](QWidget* w) { return w->isEnabled(); }));
    EXPECT_EQ(window.uploadbut->text(), QStringLiteral("Upload"));
    // The bar showed each transfer's share of bytes sent, block by block of
    // 1468 bytes (1500, then 3000 bytes), and is gone.
    EXPECT_EQ(shares, (std::vector<int>{0, 97, 100, 0, 48, 97, 100}));
    EXPECT_FALSE(window.transferbar->isVisible());
}

TEST(WindowClose, DuringARunAsksAndAYesEndsTheProgramPromptly) {
    struct TRow {
        const char* name;
        const char* address;
        const char* digits;
        bool neverComesBack, tftpSilent;
        TLines log;              // the close comes 300 ms after the last of these lines
        std::string cancelledAt; // the line that the close's cancel adds
    };
    const TRow rows[] = {
        {"waiting for a unit that never comes back",
         "127.0.0.103",
         "127000000103",
         true,
         false,
         {"Rebooting unit"},
         "Cancelled at wait after the reboot"},
        // A frozen window would see the close only at the reply's 4 s time-out.
        {"in a transfer whose replies never come",
         "127.0.0.104",
         "127000000104",
         false,
         true,
         {"Rebooting unit", "Uploading Web page file pagesV1.bin"},
         "Cancelled at web pages"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        const TUnit unit(row.address, row.neverComesBack, row.tftpSilent);
        Tftftp_main window;
        ASSERT_TRUE(ShowActive(window));
        ConnectTo(window, unit, row.digits);
        ASSERT_TRUE(window.filegroup->isVisible());
        // The first close is answered No: the run goes on, and 300 ms later
        // the window is closed again and the answer is Yes.
        QString caption;
        bool noIsTheDefault = false;
        TBoxAnswerer answerer(
            [&] {
                if (QMessageBox* box = window.CloseBox()) {
                    caption = box->windowTitle();
                    noIsTheDefault = box->defaultButton() == box->button(QMessageBox::No);
                }
                return window.CloseBox();
            },
            {QMessageBox::No, QMessageBox::Yes});
        QElapsedTimer sinceYes;
        bool busyAfterNo = false;
        TLines logAfterNo;
        QObject::connect(window.ListBox1->model(), &QAbstractItemModel::rowsInserted, &window, [&] {
            if (Log(window) == row.log && !sinceYes.isValid()) {
                QTimer::singleShot(300, &window, &QWidget::close);
                QTimer::singleShot(600, &window, [&] {
                    busyAfterNo = window.Loader().Busy() && window.isVisible();
                    logAfterNo = Log(window);
                    sinceYes.start();
                    window.close();
                });
            }
        });
        // As the program runs: Upload from the message loop, the close, the loop's end.
        QTimer::singleShot(0, window.uploadbut, &QPushButton::click);
        QTimer watchdog; // a hang fails the row, and ends with it
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, qApp, &QApplication::quit);
        watchdog.start(15000);
        QApplication::exec();
        ASSERT_TRUE(sinceYes.isValid());
        EXPECT_EQ(answerer.Texts,
                  (std::vector<QString>(2, QStringLiteral("An update is running. Stop it "
                                                          "and close?"))));
        EXPECT_EQ(caption, QStringLiteral("Tessik TFTP Loader"));
        EXPECT_TRUE(noIsTheDefault);
        EXPECT_TRUE(busyAfterNo);
        EXPECT_EQ(logAfterNo, row.log);
        EXPECT_LT(sinceYes.elapsed(), 2000);
        EXPECT_FALSE(window.Loader().Busy());
        EXPECT_FALSE(window.isVisible());
        TLines log = row.log;
        log.push_back(row.cancelledAt);
        EXPECT_EQ(Log(window), log);
    }
}

TEST_F(WindowTest, LogMenuAndKeysCopyAndSave) {
    for (const char* line :
         {"Rebooting unit", "Uploading Web page file a.bin", "Update successful"})
        window.LogLine(line);
    const auto openMenu = [&] { emit window.ListBox1->customContextMenuRequested(QPoint(5, 5)); };
    // The selection the log shows is what Copy takes.
    window.ListBox1->item(0)->setSelected(true);
    window.ListBox1->item(2)->setSelected(true);
    PickFromMenu(QStringLiteral("Copy"), openMenu);
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QStringLiteral("Rebooting unit\nUpdate successful\n"));
    // The keys copy what the menu does: Ctrl+A, Ctrl+C gives every line.
    const std::string all = "Rebooting unit\nUploading Web page file a.bin\nUpdate successful\n";
    window.ListBox1->setFocus();
    QTest::keyClick(window.ListBox1, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(window.ListBox1, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), all);

    // Save As writes every line to the file named in its dialog; a name
    // typed without an extension is a text file.
    TTempFolder folder;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            dialog->setDirectory(QString::fromStdString(folder.Path()));
            dialog->selectFile(QStringLiteral("log"));
            static_cast<QDialog*>(dialog)->accept(); // as its Save button does
        }
    });
    answer.start(10);
    PickFromMenu(QStringLiteral("Save As"), openMenu);
    const auto saved = FileBytes(folder.Path() + "log.txt");
    EXPECT_EQ(std::string(saved.begin(), saved.end()), all);
}

TEST(WindowCancel, TheRunsButtonOrEscapeEndsTheRunAndTheNextOneRuns) {
    struct TRow {
        const char* name;
        const char* address;
        const char* digits;
        bool neverComesBack;
        bool escape;             // Escape cancels, rather than a click on the run's button
        std::string cancelledAt; // the run's last line
        TLines unitErrors;       // what the unit was told
    };
    const TRow rows[] = {
        {"Upload's Cancel during a transfer",
         "127.0.18.2",
         "127000018002",
         false,
         false,
         "Cancelled at web pages",
         {"0 Transfer cancelled"}},
        {"Escape during the wait for the unit",
         "127.0.18.3",
         "127000018003",
         true,
         true,
         "Cancelled at wait after the reboot",
         {}},
    };
    // The next run's unit: one that never came back answers no Connect.
    const TUnit next("127.0.18.4");
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        TUnit unit(row.address, row.neverComesBack);
        // Blocks enough that the cancel comes while the image goes.
        unit.images.Write("pagesV1.bin", ImageBytes(true, 0, 40 * 1468));
        Tftftp_main window;
        window.Loader().WaitLimit = std::chrono::seconds(10); // an Escape that is lost fails
        ASSERT_TRUE(ShowActive(window));
        ConnectTo(window, unit, row.digits);
        ASSERT_TRUE(window.filegroup->isVisible());
        const QColor normal = window.statuslab->palette().color(QPalette::WindowText);

        // The cancel comes from the message loop, once the first block is
        // sent or 300 ms into the wait, as a user's would.
        QString caption;
        bool enabled = false, cancelled = false;
        const auto cancel = [&] {
            if (std::exchange(cancelled, true))
                return;
            caption = window.uploadbut->text();
            enabled = window.uploadbut->isEnabled();
            if (row.escape)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            else
                QTest::mouseClick(window.uploadbut, Qt::LeftButton);
        };
        QObject::connect(window.transferbar, &QProgressBar::valueChanged, &window, [&](int value) {
            if (value > 0)
                QTimer::singleShot(0, &window, cancel);
        });
        QObject::connect(window.ListBox1->model(), &QAbstractItemModel::rowsInserted, &window, [&] {
            if (row.neverComesBack && Log(window).back() == "Rebooting unit")
                QTimer::singleShot(300, &window, cancel);
        });
        QTest::mouseClick(window.uploadbut, Qt::LeftButton);
        ASSERT_TRUE(cancelled);
        EXPECT_EQ(caption, QStringLiteral("Cancel"));
        EXPECT_TRUE(enabled);
        EXPECT_FALSE(window.Loader().Busy());
        EXPECT_EQ(window.Loader().Outcome().Result, TRunResult::rrCancelled);
        EXPECT_EQ(Log(window).back(), row.cancelledAt);
        EXPECT_EQ(window.statuslab->text().toStdString(), row.cancelledAt);
        EXPECT_NE(window.statuslab->palette().color(QPalette::WindowText), normal);
        EXPECT_EQ(window.uploadbut->text(), QStringLiteral("Upload"));
        // The unit's side of the loopback takes its moment to read the ERROR.
        WaitFor([&] { return unit.sim->ClientErrors().size() >= row.unitErrors.size(); });
        EXPECT_EQ(unit.sim->ClientErrors(), row.unitErrors);
        EXPECT_TRUE(unit.sim->Images().empty());

        // The next run runs, and a good one brings the label's colour back.
        ConnectTo(window, next, "127000018004");
        EXPECT_EQ(Log(window).back(), "Connected, H/W revision 171");
        EXPECT_EQ(window.statuslab->palette().color(QPalette::WindowText), normal);
        EXPECT_EQ(window.connectbut->text(), QStringLiteral("Connect"));
        // With no run, a close asks nothing.
        EXPECT_TRUE(window.close());
        EXPECT_EQ(window.CloseBox(), nullptr);
    }
}
