#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <filesystem>
#include <functional>

#include "app/QuadviewApplication.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/Unit3.h"
#include "app/Unit4.h"
#include "app/Unit5.h"
#include "app/Viewer.h"
#include "liveview/LiveView.h"
#include "tests/support/DesignedFrame.h"
#include "tests/support/FakeCard.h"

namespace {

using testing_support::EachChannel;
using testing_support::FakeCard;
using testing_support::operator+;
using Calls = std::vector<std::string>;

QuadviewApplication& application() {
    return *static_cast<QuadviewApplication*>(QCoreApplication::instance());
}

Calls openCalls() {
    return EachChannel({"OpenChannel"});
}

Calls destroyCalls() {
    return EachChannel({"StopChannel", "SetChannelFlag 0", "CloseChannel"});
}

TForm1* findForm1() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String("Form1") && widget->isVisible()) {
            return static_cast<TForm1*>(widget);
        }
    }
    return nullptr;
}

void activate(QWidget* window) {
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
}

// Runs action on the first modal widget of type T that shows up.
template <typename T>
void whenModal(std::function<void(T*)> action) {
    auto* const poll = new QTimer(QCoreApplication::instance());  // deletes itself below
    QObject::connect(poll, &QTimer::timeout, poll, [poll, action] {
        if (auto* const modal = qobject_cast<T*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            action(modal);
        }
    });
    poll->start(5);
}

class ShellTest : public ::testing::Test {
  protected:
    ShellTest() {
        application().setErrorDisplay([this](const QString& message) { errors.push_back(message); });
    }
    ~ShellTest() override { application().setErrorDisplay(nullptr); }

    std::unique_ptr<TForm1> makeForm() {
        auto form = std::make_unique<TForm1>(capture);
        addCamerasAndShow(*form);
        return form;
    }

    // The entry's steps after Form1 exists: Camera1 ... Camera4, then the show.
    static void addCamerasAndShow(TForm1& form) {
        form.AddCamera(std::make_unique<TCamera1>());
        form.AddCamera(std::make_unique<TCamera2>());
        form.AddCamera(std::make_unique<TCamera3>());
        form.AddCamera(std::make_unique<TCamera4>());
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
    }

    FakeCard card;
    CaptureLibrary capture = card.library();
    QStringList errors;
};

TEST_F(ShellTest, StartUpOpensTheChannelsBeforeAnyCameraWindowThenTilesFour) {
    auto form = std::make_unique<TForm1>(capture);
    EXPECT_EQ(card.calls(), openCalls());
    EXPECT_TRUE(form->MdiArea->subWindowList().isEmpty());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Form1"));
    EXPECT_EQ(form->font().pixelSize(), 11);

    addCamerasAndShow(*form);
    EXPECT_EQ(form->frameGeometry(), testing_support::DesignedFrame());

    const QList<QMdiSubWindow*> windows = form->MdiArea->subWindowList(QMdiArea::CreationOrder);
    ASSERT_EQ(windows.size(), 4);
    const QSize area = form->MdiArea->viewport()->size();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(windows[i]->windowTitle(), QStringLiteral("Camera%1").arg(i + 1));
        EXPECT_TRUE(windows[i]->isVisible());
        // Tiled: four quarters side by side, none over another.
        EXPECT_NEAR(windows[i]->width(), area.width() / 2, 2);
        EXPECT_NEAR(windows[i]->height(), area.height() / 2, 2);
        for (int j = i + 1; j < 4; ++j) {
            EXPECT_FALSE(windows[i]->geometry().intersects(windows[j]->geometry())) << i << " and " << j;
        }
    }
    form.reset();
    EXPECT_EQ(card.calls(), openCalls() + destroyCalls());
}

TEST_F(ShellTest, MenuHasItsCaptionsShortcutsAndNames) {
    auto form = makeForm();
    const QList<QAction*> bar = form->menuBar()->actions();
    ASSERT_EQ(bar.size(), 3);
    EXPECT_EQ(bar[0]->text(), QStringLiteral("操作"));
    EXPECT_EQ(bar[1]->text(), QStringLiteral("視窗"));
    EXPECT_EQ(bar[2]->text(), QStringLiteral("圖片"));
    const std::vector<std::pair<QMenu*, QStringList>> menus{
        {form->N1, {QStringLiteral("攝影機拍攝"), QStringLiteral("離開程式")}},
        {form->N4, {QStringLiteral("非重疊"), QStringLiteral("重疊")}},
        {form->N7, {QStringLiteral("儲存"), QStringLiteral("瀏覽")}},
    };
    for (const auto& [menu, captions] : menus) {
        QStringList texts;
        for (QAction* item : menu->actions()) {
            texts << item->text();
            EXPECT_TRUE(item->isEnabled());
            EXPECT_FALSE(item->text().contains(QLatin1Char('&'))) << "no access keys";
        }
        EXPECT_EQ(texts, captions);
    }
    EXPECT_EQ(form->N2->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_EQ(form->N3->shortcut(), QKeySequence(Qt::Key_F2));
    for (QAction* item : {form->N5, form->N6, form->N8, form->N9}) {
        EXPECT_TRUE(item->shortcut().isEmpty());
    }
    EXPECT_EQ(form->N2->objectName(), QStringLiteral("N2"));
    EXPECT_EQ(form->N9->objectName(), QStringLiteral("N9"));
}

TEST_F(ShellTest, BrowseIsPresentEnabledAndInert) {
    auto form = makeForm();
    card.clearCalls();
    const QList<QRect> before = [&] {
        QList<QRect> rects;
        for (QMdiSubWindow* window : form->MdiArea->subWindowList()) {
            rects << window->geometry();
        }
        return rects;
    }();
    form->N9->trigger();
    QCoreApplication::processEvents();
    EXPECT_TRUE(card.calls().empty());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    QList<QRect> after;
    for (QMdiSubWindow* window : form->MdiArea->subWindowList()) {
        after << window->geometry();
    }
    EXPECT_EQ(after, before);
}

TEST_F(ShellTest, ExitByF2ClosesTheChannelsTwiceAndReturnsZero) {
    QTimer::singleShot(0, [] {
        TForm1* const form = findForm1();
        ASSERT_NE(form, nullptr);
        activate(form);
        QTest::keyClick(form, Qt::Key_F2);
    });
    const int status = RunViewer(application(), capture);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(card.calls(), openCalls() + EachChannel({"CloseChannel"}) + destroyCalls());
}

TEST_F(ShellTest, ExitByTheCloseBoxRunsOnlyTheDestruction) {
    QTimer::singleShot(0, [] {
        TForm1* const form = findForm1();
        ASSERT_NE(form, nullptr);
        form->close();
    });
    EXPECT_EQ(RunViewer(application(), capture), 0);
    EXPECT_EQ(card.calls(), openCalls() + destroyCalls());
}

TEST_F(ShellTest, NonOverlappingTilesFirstThenRestoresEveryCamera) {
    auto form = makeForm();
    CameraWindow* const minimised = form->Camera(1);
    CameraWindow* const maximised = form->Camera(2);
    const QRect placed(10, 10, 200, 150);
    minimised->setGeometry(placed);
    minimised->showMinimized();
    maximised->showMaximized();
    form->N5Click();
    EXPECT_FALSE(minimised->isMinimized());
    EXPECT_FALSE(maximised->isMaximized());
    // Restored after the tiling, it returns to where it was, not to a tile.
    EXPECT_EQ(minimised->geometry(), placed);
    for (ChannelIndex channel = 0; channel < 4; ++channel) {
        EXPECT_TRUE(form->Camera(channel)->isVisible());
        EXPECT_FALSE(form->Camera(channel)->isMinimized());
    }
}

TEST_F(ShellTest, OverlappingCascadesWithoutTouchingStates) {
    auto form = makeForm();
    form->Camera(3)->showMinimized();
    form->N6Click();
    EXPECT_TRUE(form->Camera(3)->isMinimized());
    // Cascaded: the others overlap each other, each offset from the last.
    for (ChannelIndex a = 0; a < 3; ++a) {
        for (ChannelIndex b = a + 1; b < 3; ++b) {
            const QRect first = form->Camera(a)->geometry();
            const QRect second = form->Camera(b)->geometry();
            EXPECT_TRUE(first.intersects(second))
                << a << " and " << b << " " << first.x() << "," << first.y() << " " << first.width() << "x"
                << first.height() << " / " << second.x() << "," << second.y() << " " << second.width() << "x"
                << second.height();
            EXPECT_NE(first.topLeft(), second.topLeft()) << a << " and " << b;
        }
    }
}

TEST_F(ShellTest, CloseBoxMinimisesACameraAndNonOverlappingBringsItBack) {
    auto form = makeForm();
    CameraWindow* const camera = form->Camera(0);
    EXPECT_FALSE(camera->close());
    EXPECT_TRUE(camera->isMinimized());
    EXPECT_EQ(form->MdiArea->subWindowList().size(), 4);
    form->N5->trigger();
    EXPECT_FALSE(camera->isMinimized());
}

TEST_F(ShellTest, ExceptionInAHandlerIsShownAndTheLoopGoesOn) {
    auto form = makeForm();
    activate(form.get());
    card.throwOn("StopChannel", "card gone");
    QTest::keyClick(form.get(), Qt::Key_F1);
    EXPECT_EQ(errors, QStringList{QStringLiteral("card gone")});
    card.throwOn("", "");
    QTest::keyClick(form.get(), Qt::Key_F1);
    EXPECT_EQ(errors.size(), 1);
    EXPECT_NE(LiveView.Worker, nullptr) << "the next F1 starts the live view";
    form.reset();
    EXPECT_EQ(LiveView.Worker, nullptr) << "shutdown ended the worker";
}

TEST_F(ShellTest, F1PaintsCamera1WhiteOnScreen) {
    auto form = makeForm();
    activate(form.get());
    QTest::keyClick(form.get(), Qt::Key_F1);
    CameraView& view = form->Camera(0)->view();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.grab().toImage().pixel(5, 5) == 0xFFFFFFFFu; }));
    const QImage other = form->Camera(1)->view().grab().toImage();
    EXPECT_EQ(QColor(other.pixel(5, 5)), form->palette().color(QPalette::Button))
        << "the face where nothing was drawn";
}

TEST_F(ShellTest, MissingLibraryOrOrdinalIsShownAndGivesStatusOne) {
    const auto binaries = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    EXPECT_EQ(
        StartViewer(application(), [] { return CaptureLibrary::loadFile("/nonexistent/libkesmacap.so"); }),
        1);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("/nonexistent/libkesmacap.so"))) << errors[0].toStdString();
    EXPECT_EQ(
        StartViewer(application(), [&] { return CaptureLibrary::loadFile(binaries / "libbroken_no42.so"); }),
        1);
    ASSERT_EQ(errors.size(), 2);
    EXPECT_TRUE(errors[1].contains(QStringLiteral("ordinal 42 (SaveChannelPicture)")))
        << errors[1].toStdString();
    EXPECT_EQ(findForm1(), nullptr) << "no window opens";
}

class SaveCommandTest : public ShellTest {
  protected:
    void SetUp() override {
        folder = QDir::temp().filePath(
            QStringLiteral("quadview-dialog-%1").arg(QCoreApplication::applicationPid()));
        QDir().mkpath(folder);
    }
    void TearDown() override { QDir(folder).removeRecursively(); }

    // Confirms the save dialog with a typed name and a type, or cancels it.
    void answerDialog(const QString& name, int filterIndex, bool confirm = true) {
        whenModal<QFileDialog>([=, this](QFileDialog* dialog) {
            dialog->setDirectory(folder);
            if (!name.isEmpty()) {
                dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(name);
            }
            if (filterIndex > 0) {
                dialog->selectNameFilter(QtSavePictureDialog::filters().at(filterIndex - 1));
            }
            if (confirm) {
                static_cast<QDialog*>(dialog)->accept();
            } else {
                dialog->reject();
            }
        });
    }
    QString folder;
};

TEST_F(SaveCommandTest, DialogChoiceReachesTheLibraryAndIsRemembered) {
    auto form = makeForm();
    answerDialog(QStringLiteral("photo"), 2);
    form->N8->trigger();
    auto saves = card.saves();
    ASSERT_EQ(saves.size(), 4u);
    EXPECT_EQ(QString::fromStdString(saves[0].path), QDir(folder).filePath(QStringLiteral("photo")));
    EXPECT_EQ(saves[0].format, 1);
    EXPECT_EQ(saves[3].channel, 3);

    answerDialog(QString(), 0);  // confirm what the dialog remembers
    form->N8->trigger();
    saves = card.saves();
    ASSERT_EQ(saves.size(), 8u);
    EXPECT_EQ(saves[4].path, saves[0].path);
    EXPECT_EQ(saves[4].format, 1);

    answerDialog(QStringLiteral("shot.bmp"), 1);
    form->N8->trigger();
    EXPECT_EQ(QString::fromStdString(card.saves().at(8).path),
              QDir(folder).filePath(QStringLiteral("shot.bmp.bmp")));
}

TEST_F(SaveCommandTest, CancelSavesNothing) {
    auto form = makeForm();
    answerDialog(QStringLiteral("photo"), 3, false);
    form->N8->trigger();
    EXPECT_TRUE(card.saves().empty());
}

TEST_F(SaveCommandTest, FailedPicturesAreListedInAMessageTitledSave) {
    auto form = makeForm();
    card.setSaveResult(2, EACCES);
    QString title;
    QString text;
    answerDialog(QStringLiteral("photo"), 3);
    whenModal<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        box->accept();
    });
    form->N8->trigger();
    EXPECT_EQ(card.saves().size(), 4u);
    EXPECT_EQ(title, QStringLiteral("儲存"));
    EXPECT_TRUE(text.contains(QStringLiteral("Camera3"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("Camera1"))) << text.toStdString();
}

}  // namespace
