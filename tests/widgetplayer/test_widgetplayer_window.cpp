// The widget player window on a generated storage folder of two cameras with
// gaps between recordings: the day is chosen in the tree, the hour rows show
// the recorded minutes, clicks seek to the clicked second, the transport
// plays, pauses, stops, steps and changes rate, the camera chooser switches
// camera, list rows seek, a snapshot reaches the viewer, and the window can be
// destroyed while its filler runs.

#include "playback/zq_stream_read_and_control.h"
#include "player/zq_player_inferface_controller.h"
#include "tools/zqfixture/lib/fixture_metadata.h"
#include "tools/zqfixture/lib/fixture_pattern.h"
#include "tools/zqfixture/lib/fixture_writer.h"
#include "export/popup_export.h"
#include "integrity/integrity_dialog.h"
#include "integrity/integrity_run.h"
#include "view/canvas.h"
#include "widgetplayer/alarm_item_delegate.h"
#include "widgetplayer/alarm_model.h"
#include "widgetplayer/ui_zq_player_presentation.h"
#include "widgetplayer/widget_player_ui.h"
#include "widgetplayer/zq_player_presentation.h"
#include "widgetplayer/zq_player_tab_widget.h"
#include "widgetplayer/zq_slider_timeline.h"
#include "widgetplayer/zq_timeline.h"
#include "widgetplayer/zq_video_file_system_model.h"

#include "widgetplayer_test_helpers.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QHash>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTableView>
#include <QTreeView>

#include <algorithm>

namespace {

struct Seen
{
    QStringList warnings;
    QStringList informations;
    QList<QImage> snapshots;
    QList<Vignette> alarms;
};

class RecordingUi : public WidgetPlayerUi
{
public:
    explicit RecordingUi(Seen* seen) : m_seen(seen) {}
    void warning(const QString&, const QString& text) override { m_seen->warnings << text; }
    void information(const QString&, const QString& text) override { m_seen->informations << text; }
    void open_alarm_viewer(const QString&, const QString&) override {}
    void open_snapshot_viewer(const QImage& image, const QString&) override { m_seen->snapshots << image; }
    void open_alarm_record(const Vignette& alarm) override { m_seen->alarms << alarm; }

private:
    Seen* m_seen;
};

bool is_red(QRgb c)
{
    return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
}

qint64 ms(int h, int m, int s)
{
    return (h * 3600LL + m * 60 + s) * 1000;
}

// How one row of an open drop-down list looks on screen: the colour that
// fills most of it, whether that colour is opaque (a see-through pop-up shows
// whatever lies behind it: black on one desktop, white on another), and the
// contrast of the row's ink that stands out most from it.
struct RowLook
{
    QColor background;
    bool opaque = false;
    double contrast = 1.0;
    QColor ink; // the colour of that ink
};

RowLook row_look(const QImage& picture, const QRect& row)
{
    QHash<QRgb, int> counts;
    for (int y = row.top(); y <= row.bottom(); ++y)
        for (int x = row.left(); x <= row.right(); ++x)
            ++counts[picture.pixel(x, y)];
    QRgb most = 0;
    int best = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > best) {
            best = it.value();
            most = it.key();
        }
    RowLook look;
    look.background = QColor::fromRgba(most);
    look.opaque = qAlpha(most) == 255;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        const double c = contrast_ratio(QColor::fromRgba(it.key()), look.background);
        if (c > look.contrast) {
            look.contrast = c;
            look.ink = QColor::fromRgba(it.key());
        }
    }
    return look;
}

} // namespace

class TestWidgetPlayerWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    QString m_day;
    ZQ_Player_presentation* m_w = nullptr;
    Seen m_seen;
    QList<ZQFixture::PatternValue> m_pictures;

    // Pictures the reader sends from now on.
    void watch()
    {
        m_pictures.clear();
    }
    bool wait_pictures(int count)
    {
        return QTest::qWaitFor([&] { return m_pictures.size() >= count; }, 20000);
    }
    bool wait_filled()
    {
        QSignalSpy filled(m_w, &ZQ_Player_presentation::timelines_filled);
        return filled.wait(60000);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        // The tree opens on the home folder, which holds the storage folder.
        qputenv("HOME", m_home.path().toLocal8Bit());
        ZQFixture::Options o;
        o.output_parent = m_home.path();
        o.cameras = {1, 2};
        o.start_time = QTime(8, 0, 0);
        // 08:00, 08:11, 08:22: gaps long enough that the filler's estimate of one
        // minute per file comes from the recordings' last frames.
        o.recordings_per_camera = 3;
        o.seconds_per_recording = 60;
        o.gap_seconds = 600;
        o.size = QSize(64, 48);
        o.fps = 5;
        o.gop = 5;
        const ZQFixture::StorageResult r = ZQFixture::write_storage(o, ZQFixture::MetadataOptions());
        QVERIFY2(r.ok, qPrintable(r.error));
        m_day = QDir(r.storage.root_path).filePath(QStringLiteral("2024-01-01"));
        // An alarm at noon, when nothing was recorded, and a broken picture.
        QFile noon(QDir(m_day).filePath(QStringLiteral("080000/1_99_20240101_120000-thumb.jpg")));
        QVERIFY(noon.open(QIODevice::WriteOnly));
        noon.write("not a jpeg");
        noon.close();

        m_w = new ZQ_Player_presentation(nullptr);
        m_w->set_ui(std::make_unique<RecordingUi>(&m_seen));
        m_w->resize(1600, 900);
        m_w->show();
        connect(m_w->reader(), &ZQStreamReadAndControl::set_display_frame, this,
                [this](QImage image, auto&&...) { m_pictures << ZQFixture::read_pattern(image); });
    }

    void construction()
    {
        Ui_ZQ_Player_presentation* ui = m_w->form();
        QCOMPARE(m_w->objectName(), QStringLiteral("ZQ_Player_presentation"));
        QCOMPARE(ui->rateBox->count(), 8);
        QCOMPARE(ui->rateBox->currentText(), QStringLiteral("1.0x"));
        QCOMPARE(ui->rateBox->itemData(0).toDouble(), -8.0);
        QVERIFY(!ui->playButton->isEnabled());
        QVERIFY(!ui->tabWidget->isTabEnabled(1));
        QVERIFY(ui->encodeprogress->isHidden());
        QCOMPARE(ui->exportbutton->text(), QStringLiteral("Export vidéo"));
        QVERIFY(m_w->windowTitle().startsWith(QStringLiteral("ZQPlayer ")));
        QVERIFY(m_w->tile());
        // The home folder is the tree's current row.
        QCOMPARE(m_w->file_model()->filePath(m_w->proxy_model()->mapToSource(ui->tree->currentIndex())),
                 QDir::homePath());
    }

    void day_folder_row_reads()
    {
        // The day folder's row in the tree: a magenta bar whose name can be read.
        QTRY_VERIFY_WITH_TIMEOUT(m_w->tree_index_of(m_day).isValid(), 20000);
        QTreeView* tree = m_w->form()->tree;
        const QModelIndex day = m_w->tree_index_of(m_day);
        for (QModelIndex p = day.parent(); p.isValid(); p = p.parent())
            tree->expand(p);
        tree->scrollTo(day);
        QVERIFY(tree->selectionModel()->selectedIndexes().isEmpty() || !tree->selectionModel()->isSelected(day));
        QRect rect;
        QTRY_VERIFY((rect = tree->visualRect(day)).height() > 0);
        const QImage picture = tree->viewport()->grab(rect).toImage();
        // Past the folder icon: the bar and the name only.
        const int icon = tree->iconSize().isValid() ? tree->iconSize().width()
                                                    : tree->style()->pixelMetric(QStyle::PM_SmallIconSize);
        int bar = 0;
        int ink = 0;
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = icon + 8; x < picture.width(); ++x) {
                const QColor c = picture.pixelColor(x, y);
                if (c == QColor(Qt::magenta))
                    ++bar;
                else if (c.lightnessF() < 0.25)
                    ++ink;
            }
        }
        QVERIFY2(bar > picture.height() * 20, qPrintable(QString::number(bar)));
        QVERIFY2(ink > 20, qPrintable(QString::number(ink)));
    }

    void choose_day_marks_recorded_minutes()
    {
        QTRY_VERIFY_WITH_TIMEOUT(m_w->tree_index_of(m_day).isValid(), 20000);
        QSignalSpy filled(m_w, &ZQ_Player_presentation::timelines_filled);
        m_w->tree_entered(m_w->tree_index_of(m_day));
        // A new day's index is built first; the REC tab is set up when it is done.
        QVERIFY(filled.wait(60000));
        Ui_ZQ_Player_presentation* ui = m_w->form();
        QCOMPARE(ui->tabWidget->currentIndex(), 1);
        QVERIFY(ui->tabWidget->isTabEnabled(3));
        QCOMPARE(m_w->current_camera_id(), QStringLiteral("1"));
        QCOMPARE(m_w->camera_combo()->count(), 2);
        QCOMPARE(ui->video_stream_box->currentText(), QStringLiteral("Video 1"));
        // Nothing plays before the operator asks.
        QCOMPARE(m_w->play_state(), 0);

        ZQTimeline* row = m_w->hour_row(8);
        QVERIFY(row);
        QTRY_VERIFY(row->width() > 100);
        const QImage picture = row->grab().toImage();
        const int w = row->width();
        auto red_at = [&](int minute) {
            // The minute's last column: the tag's green marker covers the start of minute 0,
            // and a cell reaches a little into its right neighbour so that runs join.
            return is_red(picture.pixel(ZQTimeline::minute_x(minute + 1, w) - 1, 18));
        };
        QVERIFY2(row->minute(0), "minute 0 not marked");
        QVERIFY(red_at(0));
        QCOMPARE(QColor(picture.pixel(1, 18)), QColor(Qt::green));
        QVERIFY(!red_at(1));
        QVERIFY(!red_at(10));
        QVERIFY(red_at(11));
        QVERIFY(!red_at(12));
        QVERIFY(red_at(22));
        QVERIFY(!red_at(23));
        QVERIFY(!m_w->hour_row(9)->minute(0));
        QVERIFY(ui->slider->minute(8 * 60 + 22));
        QVERIFY(!ui->slider->minute(8 * 60 + 21));
        // The day's tag (08:00:01, camera 1) is on the 08:00 row and the slider.
        QCOMPARE(row->tags().size(), 1);
        QCOMPARE(ui->slider->tags().size(), 1);

        // Nothing is on screen yet: a snapshot has nothing to save (it opened
        // a viewer on an empty picture named ".jpg").
        if (ui->snapshotButton->isEnabled())
            ui->snapshotButton->click();
        QVERIFY(m_seen.snapshots.isEmpty());
    }

    void row_click_shows_that_second()
    {
        ZQTimeline* row = m_w->hour_row(8);
        QSignalSpy clicked(row, &ZQTimeline::clicked);
        // The first pixel column after 08:11:20.
        int x = 0;
        while (row->time_at(x, row->width()) < QTime(8, 11, 20))
            ++x;
        watch();
        QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(x, 15));
        QCOMPARE(clicked.size(), 1);
        const qint64 clicked_ms = QTime::fromString(clicked[0][0].toString(), QStringLiteral("HH:mm:ss"))
                                      .msecsSinceStartOfDay();
        QVERIFY(wait_pictures(1));
        QCOMPARE(m_w->play_state(), 1);
        QVERIFY(m_w->actual_file().endsWith(QStringLiteral("1_20240101_081100.zqvideo")));
        // The first picture after the seek is the clicked second's.
        const ZQFixture::PatternValue first = m_pictures.first();
        QVERIFY(first.valid);
        QCOMPARE(first.camera, 1);
        QVERIFY2(first.time_ms() >= clicked_ms && first.time_ms() < clicked_ms + 1000,
                 qPrintable(QString::number(first.time_ms() - clicked_ms)));
    }

    void play_pause_stop_steps_rates()
    {
        Ui_ZQ_Player_presentation* ui = m_w->form();
        QCOMPARE(m_w->play_state(), 1);
        ui->playButton->click();
        QCOMPARE(m_w->play_state(), 2);
        QVERIFY(m_w->reader()->is_paused());
        // Frame steps move one picture forward and back.
        watch();
        m_w->next_frame_button();
        QVERIFY(wait_pictures(1));
        const qint64 a = m_pictures.last().time_ms();
        m_w->next_frame_button();
        QVERIFY(wait_pictures(2));
        const qint64 b = m_pictures.last().time_ms();
        QVERIFY2(b > a, qPrintable(QStringLiteral("%1 %2").arg(a).arg(b)));
        m_w->previous_frame_button();
        QVERIFY(wait_pictures(3));
        QVERIFY(m_pictures.last().time_ms() < b);

        ui->playButton->click();
        QCOMPARE(m_w->play_state(), 1);
        QVERIFY(!m_w->reader()->is_paused());

        // A held step button pauses and repeats.
        emit ui->forwardButton->pressed();
        QCOMPARE(m_w->play_state(), 2);
        watch();
        QVERIFY(wait_pictures(2));
        emit ui->forwardButton->released();

        // Rates: 4.0x reaches the reader and plays.
        ui->rateBox->setCurrentIndex(6);
        emit ui->rateBox->activated(6);
        QCOMPARE(m_w->play_state(), 1);
        QCOMPARE(m_w->reader()->get_rate(), 4);
        ui->rateBox->setCurrentIndex(4);
        emit ui->rateBox->activated(4);
        QCOMPARE(m_w->reader()->get_rate(), 1);

        ui->stopButton->click();
        QCOMPARE(m_w->play_state(), 0);
        QCOMPARE(m_w->current_time(), QStringLiteral("00:00:00:000"));
        QVERIFY(!ui->stopButton->isEnabled());
        QVERIFY(m_w->tile()); // the tile stays after a stop

        // Play while stopped starts the camera's first recording.
        watch();
        ui->playButton->click();
        QCOMPARE(m_w->play_state(), 1);
        QVERIFY(wait_pictures(1));
        QVERIFY(m_pictures.first().valid);
        QVERIFY2(m_pictures.first().time_ms() < ms(8, 0, 2), qPrintable(QString::number(m_pictures.first().time_ms())));
        // The tile shows the new stream after the stop ended its previous one.
        QVERIFY(QTest::qWaitFor(
            [&] {
                const ZQFixture::PatternValue shown = ZQFixture::read_pattern(m_w->tile()->get_frame_image());
                return shown.valid && shown.time_ms() < ms(8, 0, 10);
            },
            20000));
    }

    void next_and_previous_file()
    {
        // Reached by direct calls: the reader itself moves across the camera's files.
        QVERIFY(m_w->actual_file().endsWith(QStringLiteral("1_20240101_080000.zqvideo")));
        m_w->set_next_file();
        QVERIFY(m_w->actual_file().endsWith(QStringLiteral("1_20240101_081100.zqvideo")));
        m_w->set_previous_file();
        QVERIFY(m_w->actual_file().endsWith(QStringLiteral("1_20240101_080000.zqvideo")));
        // No earlier recording of the camera: it stays on the first.
        m_w->set_previous_file();
        QVERIFY(m_w->actual_file().endsWith(QStringLiteral("1_20240101_080000.zqvideo")));
        QCOMPARE(m_w->play_state(), 1);
    }

    void camera_switch()
    {
        watch();
        QSignalSpy filled(m_w, &ZQ_Player_presentation::timelines_filled);
        QVERIFY(choose_camera(m_w, 2));
        QVERIFY(filled.wait(30000));
        QCOMPARE(m_w->current_camera_id(), QStringLiteral("2"));
        QVERIFY(QTest::qWaitFor([&] { return !m_pictures.isEmpty() && m_pictures.last().camera == 2; }, 20000));
        QCOMPARE(m_w->play_state(), 1);
        QVERIFY(m_w->actual_file().contains(QStringLiteral("/2_20240101_")));
    }

    void alarm_and_tag_rows_seek()
    {
        Ui_ZQ_Player_presentation* ui = m_w->form();
        ui->tabWidget->setCurrentIndex(2);
        QVERIFY(m_w->alarm_model());
        QCOMPARE(ui->alarm_combobox->itemText(0), QStringLiteral("Toutes les caméras"));
        QVERIFY(m_w->alarm_model()->rowCount() >= 1);
        const Vignette alarm = m_w->alarm_model()->get_vignette(m_w->alarm_model()->index(0, 0));
        QCOMPARE(alarm.camera_id, QStringLiteral("2"));
        QSignalSpy seeks(m_w, &ZQ_Player_presentation::change_timestamp);
        emit m_w->alarm_delegate()->cellButtonClicked(m_w->alarm_model()->index(0, 0));
        QCOMPARE(seeks.size(), 1);
        QCOMPARE(seeks[0][0].toString(), QStringLiteral("20240101075958")); // alarm 08:00:00, 2 s before
        // An alarm without a recording around it warns instead of seeking.
        ui->alarm_combobox->setCurrentIndex(0);
        m_w->set_alarm_list_from_index(0);
        int noon = -1;
        for (int r = 0; r < m_w->alarm_model()->rowCount(); ++r)
            if (m_w->alarm_model()->get_vignette(m_w->alarm_model()->index(r, 0)).time == QLatin1String("120000"))
                noon = r;
        QVERIFY(noon >= 0);
        seeks.clear();
        emit m_w->alarm_delegate()->cellButtonClicked(m_w->alarm_model()->index(noon, 0));
        QCOMPARE(seeks.size(), 0);
        QCOMPARE(m_seen.warnings, QStringList{QStringLiteral("Aucun fichier vidéo détecté")});
        m_seen.warnings.clear();
        QVERIFY(!m_w->form()->listVignettes_view->grab().isNull()); // paints the broken picture as nothing
        // The corner square opens the picture.
        emit m_w->alarm_delegate()->cellDownloadButtonClicked(m_w->alarm_model()->index(0, 0));
        QCOMPARE(m_seen.alarms.size(), 1);

        ui->tabWidget->setCurrentIndex(3);
        QVERIFY(m_w->tags_model());
        QCOMPARE(m_w->tags_model()->rowCount(), 1);
        seeks.clear();
        emit m_w->tag_delegate()->cellButtonClicked(m_w->tags_model()->index(0, 0));
        QCOMPARE(seeks.size(), 1);
        QCOMPARE(seeks[0][0].toString(), QStringLiteral("20240101075959")); // tag 08:00:01
        QVERIFY(m_seen.warnings.isEmpty());
    }

    void drop_down_rows_read_data()
    {
        // Each chooser of the window, on the tab that shows it (-1: below the display).
        QTest::addColumn<QString>("chooser");
        QTest::addColumn<int>("tab");
        QTest::addColumn<bool>("light"); // white list, black names, light grey row under the pointer
        QTest::newRow("camera") << QStringLiteral("camera") << 1 << true;
        // The others: the panels' dark list with white names.
        QTest::newRow("alarm camera") << QStringLiteral("alarm_combobox") << 2 << false;
        QTest::newRow("tag camera") << QStringLiteral("tags_comboBox") << 3 << false;
        QTest::newRow("stream") << QStringLiteral("video_stream_box") << -1 << false;
        QTest::newRow("rate") << QStringLiteral("rateBox") << -1 << false;
    }

    void drop_down_rows_read()
    {
        // An open drop-down list: every row, the one under the pointer too,
        // is opaque and its name stands out from it. The panels' light text
        // on the lists' white left the camera names blank. The REC tab's
        // camera chooser has a white list with black names; the others a
        // dark one with white names.
        QFETCH(QString, chooser);
        QFETCH(int, tab);
        QFETCH(bool, light);
        Ui_ZQ_Player_presentation* ui = m_w->form();
        if (tab >= 0)
            ui->tabWidget->setCurrentIndex(tab);
        QComboBox* box = chooser == QLatin1String("camera") ? m_w->camera_combo()
                                                           : m_w->findChild<QComboBox*>(chooser);
        QVERIFY(box);
        QTRY_VERIFY(box->isVisible());
        QVERIFY(box->count() >= 1);
        box->showPopup();
        QAbstractItemView* view = box->view();
        QTRY_VERIFY(view->isVisible());
        QWidget* popup = view->window();
        const int rows = std::min(box->count(), 3);
        for (int hovered = 0; hovered < rows; ++hovered) {
            QColor hovered_background;
            QList<QColor> other_backgrounds;
            const QRect hover_rect = view->visualRect(view->model()->index(hovered, 0));
            // The pointer moving over the list, as the pop-up's event filter sees it.
            QMouseEvent move(QEvent::MouseMove, hover_rect.center(), view->viewport()->mapToGlobal(hover_rect.center()),
                             Qt::NoButton, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(view->viewport(), &move);
            QTRY_COMPARE(view->currentIndex().row(), hovered);
            const QImage picture = popup->grab().toImage().convertToFormat(QImage::Format_ARGB32);
            for (int r = 0; r < rows; ++r) {
                QRect rect = view->visualRect(view->model()->index(r, 0));
                rect.moveTopLeft(view->viewport()->mapTo(popup, rect.topLeft()));
                rect &= picture.rect();
                QVERIFY(!rect.isEmpty());
                const RowLook look = row_look(picture, rect);
                const QString what = QStringLiteral("row %1 (pointer on %2): background %3, contrast %4")
                                         .arg(r)
                                         .arg(hovered)
                                         .arg(look.background.name(QColor::HexArgb))
                                         .arg(look.contrast);
                QVERIFY2(look.opaque, qPrintable(what));
                QVERIFY2(look.contrast >= 4.5, qPrintable(what));
                const double lightness = look.background.lightnessF();
                if (light) {
                    QVERIFY2(look.ink.lightnessF() < 0.2, qPrintable(what));
                    if (r == hovered)
                        QVERIFY2(lightness > 0.6 && lightness < 0.95, qPrintable(what));
                    else
                        QVERIFY2(lightness > 0.95, qPrintable(what));
                } else {
                    QVERIFY2(look.ink.lightnessF() > 0.8, qPrintable(what));
                    if (r != hovered)
                        QVERIFY2(lightness < 0.3, qPrintable(what));
                }
                // The row under the pointer stands out from the others.
                if (r == hovered)
                    hovered_background = look.background;
                else
                    other_backgrounds << look.background;
            }
            QVERIFY2(!other_backgrounds.contains(hovered_background), qPrintable(hovered_background.name()));
        }
        box->hidePopup();
        QTRY_VERIFY(!view->isVisible());
    }

    void integrity_check_of_the_day()
    {
        Ui_ZQ_Player_presentation* ui = m_w->form();
        QVERIFY(ui->integrityButton->isEnabled());
        ui->integrityButton->click();
        QPointer<IntegrityRun> run = m_w->integrity_run();
        QVERIFY(run);
        QPointer<IntegrityDialog> dialog = run->dialog();
        QVERIFY(dialog);
        QCOMPARE(dialog->parentWidget(), m_w);
        // A second click while it is open starts nothing more.
        ui->integrityButton->click();
        QCOMPARE(m_w->integrity_run(), run.data());
        QTRY_VERIFY_WITH_TIMEOUT(dialog && dialog->status_label() && !dialog->is_running(), 60000);
        // The noon alarm picture added after the day's list was written is not in it.
        QCOMPARE(dialog->status_label()->text(), QStringLiteral("État de la vérification d'intégrité : ERREUR"));
        QTest::mouseClick(dialog->button(), Qt::LeftButton);
        QTRY_VERIFY(dialog.isNull());
        QTRY_VERIFY(m_w->integrity_run() == nullptr);
        QTRY_VERIFY(run.isNull());
    }

    void snapshot_reaches_the_viewer()
    {
        watch();
        QVERIFY(wait_pictures(2));
        m_w->form()->snapshotButton->setEnabled(true);
        m_w->form()->snapshotButton->click();
        QCOMPARE(m_seen.snapshots.size(), 1);
        QVERIFY(!m_seen.snapshots.first().isNull());
    }

    void export_dialog_of_the_day()
    {
        Ui_ZQ_Player_presentation* ui = m_w->form();
        watch();
        QVERIFY(wait_pictures(1)); // a frame is on screen
        ui->exportbutton->click();
        QPointer<PopupExport> dialog = m_w->export_dialog();
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        // One dialog at a time.
        ui->exportbutton->click();
        QCOMPARE(m_w->export_dialog(), dialog.data());
        // Progress of a raw copy, then its end.
        emit dialog->valueChanged(42);
        QVERIFY(!ui->encodeprogress->isHidden());
        QVERIFY(ui->encodeprogress->format().endsWith(QStringLiteral("  [42%]")));
        QVERIFY(!ui->exportbutton->isEnabled());
        emit dialog->endingsignal();
        QCOMPARE(m_seen.informations, QStringList{QStringLiteral("Votre exportation est terminée.")});
        QVERIFY(ui->encodeprogress->isHidden());
        QVERIFY(ui->exportbutton->isEnabled());
        QVERIFY(m_w->export_dialog() == nullptr);
        QTRY_VERIFY(dialog.isNull());
        // A cancelled dialog is gone, and the button opens a new one.
        ui->exportbutton->click();
        dialog = m_w->export_dialog();
        QVERIFY(dialog && dialog->isVisible());
        QTest::keyClick(dialog, Qt::Key_Escape);
        QVERIFY(!dialog->isVisible());
        QTRY_VERIFY(dialog.isNull());
        ui->exportbutton->click();
        QVERIFY(m_w->export_dialog());
        QVERIFY(m_w->export_dialog()->isVisible());
        // This one is left open for the window's close below.
    }

    void closing_with_export_dialog_open_ends_the_application()
    {
        // The export dialog is a window of its own: left open, it kept the
        // application running after its window was closed.
        QPointer<PopupExport> dialog = m_w->export_dialog();
        QVERIFY(dialog && dialog->isVisible());
        QTimer close;
        close.setSingleShot(true);
        connect(&close, &QTimer::timeout, m_w, &QWidget::close);
        close.start(0);
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
        watchdog.start(20000);
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(!m_w->isVisible());
        QVERIFY(!dialog || !dialog->isVisible());
    }

    void destroyed_while_filling()
    {
        m_w->form()->tabWidget->setCurrentIndex(1);
        // The filler just started for camera 1: it is cancelled and waited for.
        m_w->change_timelines_from_cameraid(1);
        delete m_w;
        m_w = nullptr;
        // Events queued by the filler or the reader find nothing to touch.
        QTest::qWait(200);
    }

    void cleanupTestCase()
    {
        delete m_w;
    }
};

QTEST_MAIN(TestWidgetPlayerWindow)
#include "test_widgetplayer_window.moc"
