// Start-up and shutdown of the main window: restore the previous run's settings, fill the lists,
// select the saved link and show the window; at the end close the port and save the settings.
#include "panel/frm_main.h"

#include "session/device_model.h"
#include "session/device_session.h"
#include "panel/colours.h"
#include "panel/shell/interface_frame.h"
#include "protocol/settings_file.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QScreen>
#include <QTimer>

#include <algorithm>

namespace tavrion {

namespace {

constexpr int kTwipsPerPixel = 15;
constexpr int kClientWidthTwips = 12405;
constexpr int kClientHeightTwips = 6405;
constexpr int kExpandedHeightTwips = 6780;
constexpr int kCompactHeightTwips = 2640;
// Title bar and borders when the window system does not tell us (offscreen, not yet shown).
constexpr int kDefaultFrameExtraPx = 25;
const QString kTitle = QStringLiteral("Tavrion v1.6D ");

int twips_to_px(int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; }

// Reads a whole file of at most kMaxSettingsFileBytes; false with a reason otherwise.
bool read_small_file(const QString& path, std::string& bytes, QString& why)
{
    QFile f(path);
    if (!f.exists()) {
        why = QStringLiteral("The file is missing.");
        return false;
    }
    if (!f.open(QIODevice::ReadOnly)) {
        why = QStringLiteral("The file cannot be opened: ") + f.errorString();
        return false;
    }
    // One byte more than allowed tells an oversized file apart without reading all of it.
    const QByteArray data = f.read(qint64(kMaxSettingsFileBytes) + 1);
    if (f.error() != QFileDevice::NoError) {
        why = QStringLiteral("The file cannot be read: ") + f.errorString();
        return false;
    }
    bytes.assign(data.constData(), std::size_t(data.size()));
    return true;
}

} // namespace

QString FrmMain::settings_path() const { return QDir(platform_.program_dir).filePath(QStringLiteral("tavrion.ini")); }

QString FrmMain::resolution_list_path() const
{
    return QDir(platform_.program_dir).filePath(QStringLiteral("output_reso.txt"));
}

bool FrmMain::Form_Load()
{
    // A file error stops start-up with a message naming the file; nothing may then be saved over
    // that file at shutdown, so the unload is marked as done.
    auto file_error = [this](const QString& path, const QString& what) {
        session_->show_message(QStringLiteral("Tavrion cannot start: a problem with the file\n") + QDir::toNativeSeparators(path)
                         + QStringLiteral("\n\n") + what,
                     BoxIcon::Critical);
        unloaded_ = true;
        return false;
    };

    // 1. State to its start values; control events stay silent until the last step. The session,
    // the command log and the keypad begin at theirs.
    flags_.ui_events_enabled = false;
    device_ = ReportedState{};
    session_->model().reset();

    // 2. The COM list.
    cbo_com->clear();
    for (int n = 1; n <= 9; ++n) cbo_com->addItem(QStringLiteral("COM%1:").arg(n));

    // 3. The resolution list.
    {
        std::string bytes;
        QString why;
        if (!read_small_file(resolution_list_path(), bytes, why)) return file_error(resolution_list_path(), why);
        const ResolutionListRead list = read_resolution_list(bytes);
        if (!list.ok) return file_error(resolution_list_path(), QString::fromStdString(list.error));
        cbo_output->clear();
        for (const std::string& entry : list.entries) cbo_output->addItem(QString::fromStdString(entry));
        // Nothing is selected until the device reports its resolution.
        cbo_output->setCurrentIndex(-1);
    }

    // 4. An empty command log.
    txt_cmd->clear();

    // 5. The settings of the previous run.
    {
        std::string bytes;
        QString why;
        if (!read_small_file(settings_path(), bytes, why)) return file_error(settings_path(), why);
        const SettingsRead s = read_settings(bytes);
        if (!s.ok) return file_error(settings_path(), QString::fromStdString(s.error));
        // The window can show only these two links and COM1..COM9: an edited file with anything
        // else starts on RS-232 and COM1 instead of selecting a button or list entry that does not
        // exist; the next save writes the corrected values.
        session_->set_link_interface((s.values.link_interface == 1) ? 1 : 0);
        session_->set_com_port((s.values.com_port >= 1 && s.values.com_port <= 9) ? s.values.com_port : 1);
        flags_.advanced_view = s.values.advanced_view;
        txt_ip->setText(QString::fromStdString(s.values.address));
    }

    // 6, 7. The Ethernet buttons' start colours; the TCP client starts unconnected.
    set_back_colour(cmd_disconn_eth, disconnected_colour);

    // 8. The saved link: its controls, and for RS-232 the saved port opened.
    QRadioButton* link_button = opt_interface(session_->link_interface());
    if (link_button->isChecked())
        interface_frame_->opt_interface_Click(session_->link_interface());
    else
        link_button->setChecked(true);

    // 9, 10. Height and title.
    set_outer_height(flags_.advanced_view ? kExpandedHeightTwips : kCompactHeightTwips);
    setWindowTitle(kTitle);

    // 11. Show the window centred on its screen, then let pending events run once. Centred once
    // before showing, so it appears in place, and again once the real frame is known.
    auto centre = [this] {
        QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
        if (!s) return;
        const QRect area = s->availableGeometry();
        const QSize outer = frameGeometry().size();
        move(area.left() + (area.width() - outer.width()) / 2, area.top() + (area.height() - outer.height()) / 2);
    };
    centre();
    show();
    // Now that the frame exists, the client height can be derived from the real title bar.
    set_outer_height(flags_.advanced_view ? kExpandedHeightTwips : kCompactHeightTwips);
    centre();
    session_->do_events();

    // 12, 13. Receive polling on, then control events may act.
    session_->start_receiving();
    flags_.ui_events_enabled = true;
    return true;
}

void FrmMain::Form_Unload()
{
    if (unloaded_) return;
    unloaded_ = true;

    // 1. Close the serial port.
    session_->close_serial_port();

    // 2. Save the settings. The new content goes to a file beside the old one and replaces it only
    // once complete, so a failed or interrupted write leaves the previous file whole. Failure is
    // silent: the window closes all the same.
    SettingsValues v;
    v.link_interface = session_->link_interface();
    v.com_port = session_->com_port();
    v.advanced_view = flags_.advanced_view;
    v.address = txt_ip->text().trimmed().toStdString();
    const std::string bytes = write_settings(v);
    QSaveFile f(settings_path());
    if (!f.open(QIODevice::WriteOnly)) return;
    // The bytes are buffered: a disk that fills up shows only when they are flushed, and commit()
    // would put the cut-short file in place of the old one, so flush and check first.
    if (f.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()) || !f.flush()) {
        f.cancelWriting();
        return;
    }
    f.commit();
}

void FrmMain::cmd_advance_Click()
{
    if (flags_.advanced_view) {
        set_outer_height(kCompactHeightTwips);
        flags_.advanced_view = false;
    } else {
        set_outer_height(kExpandedHeightTwips);
        flags_.advanced_view = true;
    }
}

void FrmMain::set_outer_height(int twips)
{
    // The outer height includes the title bar; Qt sizes the client area.
    int frame_extra = kDefaultFrameExtraPx;
    if (isVisible()) {
        const int measured = frameGeometry().height() - geometry().height();
        if (measured > 0) frame_extra = measured;
    }
    // Never taller than the designed client area: below it lies only the hidden command log,
    // which a thin frame would otherwise bring into view.
    const int client_h = std::clamp(twips_to_px(twips) - frame_extra, 1, twips_to_px(kClientHeightTwips));
    setFixedSize(twips_to_px(kClientWidthTwips), client_h);
}

} // namespace tavrion
