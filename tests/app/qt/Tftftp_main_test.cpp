// The main window as a user meets it: the start-up state and layout, the
// address field and its box, Connect and Upload against a simulated unit on
// loopback, the error box, the controls during a run, the log's menu, and a
// close during a run.
#include "app/qt/Tftftp_main.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <gtest/gtest.h>

#include "QtTestSupport.h"
#include "app/qt/DirectoryEdit.h"
#include "app/qt/MaskEdit.h"
#include "tests/app/ImageFolder.h"
#include "tools/unit-sim/UnitSim.h"

namespace {

// Nothing listens here: a Connect to it finds no unit.
constexpr char NoUnitTyped[] = "127000000101";

// The field's form of a dotted address: every group three digits wide.
std::string FieldForm(const std::string& address) {
    std::string form;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = address.find('.', start);
        const std::string group = address.substr(start, dot - start);
        form += std::string(3 - group.size(), '0') + group;
        if (dot == std::string::npos)
            return form;
        form += '.';
        start = dot + 1;
    }
}

class WindowTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ShowActive(window)); }

    /// Types digits over the whole address field and leaves it for the log.
    void TypeAddress(const std::string& typed) {
        window.ipedit->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(WaitFor([&] { return window.ipedit->hasFocus(); }));
        window.ipedit->selectAll();
        QTest::keyClicks(window.ipedit, QString::fromStdString(typed));
        window.ListBox1->setFocus(Qt::TabFocusReason);
    }

    std::vector<std::string> Log() const {
        std::vector<std::string> lines;
        for (int i = 0; i < window.ListBox1->count(); ++i)
            lines.push_back(window.ListBox1->item(i)->text().toStdString());
        return lines;
    }

    std::vector<QString> BoxesDuring(const std::function<void()>& action, std::size_t expected) {
        return AnswerBoxesDuring([this] { return window.ErrorBox(); }, action, expected);
    }

    Tftftp_main window;
};

// A unit of revision 171 with an image folder that offers one image of each
// kind. Each suite has an address of its own, so that ctest may run them side
// by side.
class UnitWindowTest : public WindowTest {
protected:
    explicit UnitWindowTest(const char* address) : address_(address) {}

    void SetUp() override {
        WindowTest::SetUp();
        settings.Address = address_;
        settings.Revision = "171";
        settings.Store = store.Path();
        ConfigureUnit(settings);
        unit = std::make_unique<TUnitSim>(settings);
        unit->Start();
        pages = ImageBytes(true, 0, 1500);
        program = ImageBytes(false, 1, 3000);
        images.Write("pagesV1.bin", pages);
        images.Write("boot.bin", program);
        window.SetDirEditText(images.Path());
        std::string typed = FieldForm(address_);
        std::erase(typed, '.');
        TypeAddress(typed);
    }
    virtual void ConfigureUnit(TUnitSimSettings&) {}

    TTempFolder images, store;
    std::vector<std::uint8_t> pages, program;
    TUnitSimSettings settings;
    std::unique_ptr<TUnitSim> unit;
    const std::string address_;
};

class ConnectTest : public UnitWindowTest {
protected:
    ConnectTest() : UnitWindowTest("127.0.0.100") {}
};

class UploadTest : public UnitWindowTest {
protected:
    UploadTest() : UnitWindowTest("127.0.0.102") {}
};

class StubbornUnitTest : public UnitWindowTest {
protected:
    StubbornUnitTest() : UnitWindowTest("127.0.0.103") {}
    void ConfigureUnit(TUnitSimSettings& s) override { s.NeverComesBack = true; }
};

// A unit whose TFTP server takes write requests and never answers them.
class SilentTftpTest : public UnitWindowTest {
protected:
    SilentTftpTest() : UnitWindowTest("127.0.0.104") {}
    void ConfigureUnit(TUnitSimSettings& s) override { s.TftpSilent = true; }
};

} // namespace

TEST_F(WindowTest, StartsWithTheLayoutAndTheGroupHidden) {
    EXPECT_EQ(window.objectName(), QStringLiteral("ftftp_main"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("TFTP Upload Utility"));
    EXPECT_EQ(window.size(), QSize(677, 228));
    EXPECT_EQ(window.pos(), window.screen()->geometry().topLeft());
    struct TRow {
        QWidget* control;
        QRect geometry;
    };
    const TRow rows[] = {
        {window.ListBox1, {309, 8, 360, 177}}, {window.ipedit, {78, 8, 98, 21}},
        {window.connectbut, {200, 8, 89, 25}}, {window.filegroup, {16, 43, 273, 174}},
        {window.diredit, {6, 32, 251, 21}},    {window.file1edit, {6, 64, 251, 21}},
        {window.file2edit, {6, 95, 251, 21}},  {window.uploadbut, {96, 133, 75, 25}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.control->objectName().toStdString());
        EXPECT_EQ(row.control->geometry(), row.geometry);
    }
    EXPECT_EQ(window.Label1->pos(), QPoint(16, 12));
    EXPECT_EQ(window.statuslab->pos(), QPoint(568, 200));

    EXPECT_EQ(window.Label1->text(), QStringLiteral("IP Address:"));
    EXPECT_EQ(window.connectbut->text(), QStringLiteral("Connect"));
    EXPECT_EQ(window.uploadbut->text(), QStringLiteral("Upload"));
    EXPECT_EQ(window.filegroup->title(), QStringLiteral("Select Files"));
    EXPECT_TRUE(window.statuslab->text().isEmpty());
    EXPECT_EQ(window.ListBox1->count(), 0);
    EXPECT_FALSE(window.filegroup->isVisible());
    EXPECT_FALSE(window.transferbar->isVisible());
    EXPECT_TRUE(window.DirEditText().empty());
    for (const TImageList list : {TImageList::ilWebPages, TImageList::ilPrograms}) {
        EXPECT_EQ(window.ListCount(list), 0);
        EXPECT_EQ(window.ListItemIndex(list), -1);
    }
    const std::string address = window.ReadAddress();
    EXPECT_EQ(address, "192.168.100.100");
    EXPECT_EQ(address.size(), 15u);

    EXPECT_EQ(window.font().family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(window.font().pointSize(), 8);
    EXPECT_EQ(window.statuslab->font().pointSize(), 10);
    EXPECT_EQ(window.statuslab->palette().color(QPalette::WindowText), QColor(Qt::blue));

    window.filegroup->setVisible(true);
    EXPECT_EQ(window.diredit->BrowseButton()->width(), 18);
    EXPECT_EQ(window.diredit->BrowseButton()->geometry().right(), 250);
}

TEST_F(WindowTest, TabOrderFollowsTheLayout) {
    window.filegroup->setVisible(true);
    const std::vector<QWidget*> expected = {
        window.ListBox1,  window.ipedit,    window.connectbut, window.diredit->Edit(),
        window.file1edit, window.file2edit, window.uploadbut};
    std::vector<QWidget*> chain;
    QWidget* w = window.ListBox1;
    do {
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(&window) && w->isEnabled())
            chain.push_back(w);
        w = w->nextInFocusChain();
    } while (w != window.ListBox1 && chain.size() < 20);
    // Combo boxes put their own line edits into the chain; those stand for them.
    std::erase_if(chain, [&](QWidget* c) {
        return c->parentWidget() == window.file1edit || c->parentWidget() == window.file2edit;
    });
    EXPECT_EQ(chain, expected);
}

TEST_F(WindowTest, AddressReadsWithBlanksWhileTheFieldHasFocus) {
    window.ipedit->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(WaitFor([&] { return window.ipedit->hasFocus(); }));
    window.ipedit->selectAll();
    QTest::keyClicks(window.ipedit, QStringLiteral("10.1.1.5"));
    EXPECT_EQ(window.ReadAddress(), std::string("10 .1  .1  .5  "));
}

TEST_F(WindowTest, IncompleteAddressShowsTheBoxAndKeepsTheFocus) {
    // Should Connect run after all, it goes to loopback, never to the default.
    TypeAddress(NoUnitTyped);
    window.ipedit->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(WaitFor([&] { return window.ipedit->hasFocus(); }));
    window.ipedit->setCursorPosition(4);
    QTest::keyClick(window.ipedit, Qt::Key_Delete);
    // A click on Connect leaves the field: it is refused, and Connect does not run.
    const auto texts =
        BoxesDuring([&] { QTest::mouseClick(window.connectbut, Qt::LeftButton); }, 1);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], QStringLiteral("Invalid input value.  Use escape key to abandon changes."));
    // Back from the box (the offscreen platform needs the activation done for it).
    ASSERT_TRUE(ShowActive(window));
    EXPECT_TRUE(window.ipedit->hasFocus());
    EXPECT_EQ(window.ipedit->cursorPosition(), 4);
    EXPECT_EQ(window.ListBox1->count(), 0);
    EXPECT_EQ(window.ErrorBox(), nullptr);
    // Escape abandons the change; then the field may be left without a box.
    QTest::keyClick(window.ipedit, Qt::Key_Escape);
    EXPECT_EQ(window.ReadAddress(), "127.000.000.101");
    const auto none = BoxesDuring([&] { QTest::keyClick(window.ipedit, Qt::Key_Tab); }, 0);
    EXPECT_TRUE(none.empty());
    EXPECT_TRUE(window.connectbut->hasFocus());
}

TEST_F(WindowTest, ErrorBoxAddsThePeriodAndCarriesTheApplicationsName) {
    TTempFolder folder;
    folder.Write("short.bin", std::vector<std::uint8_t>(10, 1));
    QString caption;
    QMessageBox::Icon icon{};
    const auto texts = AnswerBoxesDuring(
        [&]() -> QMessageBox* {
            if (QMessageBox* box = window.ErrorBox(); box != nullptr) {
                caption = box->windowTitle();
                icon = box->icon();
                return box;
            }
            return nullptr;
        },
        [&] { window.SetDirEditText(folder.Path()); }, 1);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], QStringLiteral("Read beyond end of file."));
    EXPECT_EQ(caption, QStringLiteral("Tessik TFTP Loader"));
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(window.ListItemIndex(TImageList::ilPrograms), -1);
    // The window goes on: its controls are usable again.
    EXPECT_TRUE(window.connectbut->isEnabled());
    EXPECT_TRUE(window.diredit->isEnabled());
}

TEST_F(ConnectTest, ShowsTheGroupAndFillsTheLists) {
    ASSERT_EQ(window.ReadAddress(), "127.000.000.100");
    QTest::mouseClick(window.connectbut, Qt::LeftButton);
    EXPECT_EQ(Log(), std::vector<std::string>{"Connected, H/W revision 171"});
    EXPECT_TRUE(window.filegroup->isVisible());
    EXPECT_EQ(window.file1edit->currentText(), QStringLiteral("pagesV1.bin"));
    EXPECT_EQ(window.file2edit->currentText(), QStringLiteral("boot.bin"));
    EXPECT_EQ(window.file1edit->count(), 1);
    EXPECT_EQ(window.file2edit->count(), 1);

    // A Connect that finds no unit appends its line and hides the group again.
    TypeAddress(NoUnitTyped);
    QTest::mouseClick(window.connectbut, Qt::LeftButton);
    EXPECT_EQ(Log(), (std::vector<std::string>{"Connected, H/W revision 171",
                                               "Unable to Connect to 127.000.000.101"}));
    EXPECT_FALSE(window.filegroup->isVisible());
}

TEST_F(UploadTest, SendsBothImagesAndLogsEachStep) {
    window.connectbut->click();
    ASSERT_TRUE(window.filegroup->isVisible());

    // Sampled from inside the run's pumps, as a user would see the window.
    struct TSample {
        bool connect, upload, folder;
    };
    std::vector<TSample> samples;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (window.Loader().Busy())
            samples.push_back({window.connectbut->isEnabled(), window.uploadbut->isEnabled(),
                               window.diredit->isEnabled()});
    });
    sampler.start(20);
    std::vector<int> shares;
    QObject::connect(window.transferbar, &QProgressBar::valueChanged, [&](int value) {
        if (window.transferbar->isVisible())
            shares.push_back(value);
    });

    QTest::mouseClick(window.uploadbut, Qt::LeftButton);
    sampler.stop();

    EXPECT_EQ(Log(),
              (std::vector<std::string>{"Rebooting unit", "Uploading Web page file pagesV1.bin",
                                        "Web pages transfered", "Rebooting unit",
                                        "Uploading Program file boot.bin", "Program transfered",
                                        "Update successful"}));
    const auto received = unit->Images();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].RemoteName, "rrpages.bin");
    EXPECT_EQ(received[0].Data, pages);
    EXPECT_EQ(received[1].RemoteName, "rrboot.bin");
    EXPECT_EQ(received[1].Data, program);
    EXPECT_EQ(window.statuslab->text(), QStringLiteral("Done"));

    ASSERT_FALSE(samples.empty());
    for (const TSample& s : samples)
        EXPECT_FALSE(s.connect || s.upload || s.folder);
    EXPECT_TRUE(window.connectbut->isEnabled());
    EXPECT_TRUE(window.uploadbut->isEnabled());
    EXPECT_TRUE(window.diredit->isEnabled());

    // Both transfers ran to their full size, in steps.
    EXPECT_EQ(std::count(shares.begin(), shares.end(), 100), 2);
    EXPECT_TRUE(std::any_of(shares.begin(), shares.end(), [](int v) { return v > 0 && v < 100; }));
    EXPECT_FALSE(window.transferbar->isVisible());
}

TEST_F(StubbornUnitTest, ClosingDuringTheWaitEndsTheProgramPromptly) {
    window.connectbut->click();
    ASSERT_TRUE(window.filegroup->isVisible());
    QElapsedTimer sinceClose;
    // As the program runs: Upload from the message loop, the close while it
    // waits for a unit that never comes back, and the loop's end.
    QTimer::singleShot(0, window.uploadbut, &QPushButton::click);
    QTimer::singleShot(1500, &window, [&] {
        sinceClose.start();
        window.close();
    });
    QTimer::singleShot(15000, qApp, &QApplication::quit); // a hang fails, not blocks
    QApplication::exec();
    ASSERT_TRUE(sinceClose.isValid());
    EXPECT_LT(sinceClose.elapsed(), 2000);
    EXPECT_FALSE(window.Loader().Busy());
    EXPECT_EQ(Log(), std::vector<std::string>{"Rebooting unit"});
}

TEST_F(WindowTest, LogMenuCopiesSelectedLinesOrAllAndSavesAll) {
    for (const char* line :
         {"Rebooting unit", "Uploading Web page file a.bin", "Update successful"})
        window.LogLine(line);
    const auto copyThroughMenu = [&] {
        QTimer pick;
        QObject::connect(&pick, &QTimer::timeout, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                for (QAction* action : menu->actions())
                    if (action->text() == QStringLiteral("Copy"))
                        action->trigger();
                menu->close();
            }
        });
        pick.start(10);
        emit window.ListBox1->customContextMenuRequested(QPoint(5, 5));
        return QGuiApplication::clipboard()->text();
    };
    EXPECT_EQ(copyThroughMenu(),
              QStringLiteral("Rebooting unit\nUploading Web page file a.bin\nUpdate successful\n"));
    window.ListBox1->item(0)->setSelected(true);
    window.ListBox1->item(2)->setSelected(true);
    EXPECT_EQ(copyThroughMenu(), QStringLiteral("Rebooting unit\nUpdate successful\n"));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    ASSERT_TRUE(window.SaveLog(path));
    EXPECT_EQ(
        FileBytes(path.toStdString()).size(),
        std::string("Rebooting unit\nUploading Web page file a.bin\nUpdate successful\n").size());
    EXPECT_FALSE(window.SaveLog(dir.filePath(QStringLiteral("missing/log.txt"))));
}

TEST_F(WindowTest, PumpingWaitsOnTheEventLoopUntilTheDeadline) {
    bool fired = false;
    QTimer::singleShot(20, [&] { fired = true; });
    const auto start = TWindowOperations::Clock::now();
    const auto deadline = start + std::chrono::milliseconds(200);
    window.PumpMessagesUntil(deadline);
    EXPECT_TRUE(fired);
    EXPECT_GE(TWindowOperations::Clock::now(), deadline);
    // Without a deadline in the future it only handles what is waiting.
    window.PumpMessagesUntil(start);
    const auto before = TWindowOperations::Clock::now();
    window.PumpMessages();
    EXPECT_LT(TWindowOperations::Clock::now() - before, std::chrono::milliseconds(500));
}

TEST_F(SilentTftpTest, ClosingDuringATransferEndsTheProgramPromptly) {
    window.connectbut->click();
    ASSERT_TRUE(window.filegroup->isVisible());
    // The close comes 300 ms after the transfer starts waiting for a reply
    // that never comes; a window frozen in that wait would take it 4 s later.
    QElapsedTimer sinceTransfer;
    QObject::connect(window.ListBox1->model(), &QAbstractItemModel::rowsInserted, &window, [&] {
        if (window.ListBox1->count() == 2 && !sinceTransfer.isValid()) {
            sinceTransfer.start();
            QTimer::singleShot(300, &window, &QWidget::close);
        }
    });
    QTimer::singleShot(0, window.uploadbut, &QPushButton::click);
    QTimer::singleShot(15000, qApp, &QApplication::quit);
    QApplication::exec();
    ASSERT_TRUE(sinceTransfer.isValid());
    EXPECT_LT(sinceTransfer.elapsed(), 300 + 2000);
    EXPECT_FALSE(window.Loader().Busy());
    EXPECT_EQ(Log(),
              (std::vector<std::string>{"Rebooting unit", "Uploading Web page file pagesV1.bin"}));
}
