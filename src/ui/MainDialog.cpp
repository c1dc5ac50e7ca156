#include "ui/MainDialog.h"

#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSlider>
#include <QTimer>
#include <QVariant>

#include "core/site/Site.h"
#include "core/store/ListStore.h"
#include "core/text/Gbk.h"
#include "ui/AccessibleTexts.h"
#include "ui/ControlBuilder.h"
#include "ui/ControlIds.h"
#include "ui/DialogTemplates.h"
#include "ui/DownloadWindow.h"
#include "ui/Menus.h"
#include "ui/RecordListView.h"
#include "ui/WindowInput.h"

namespace melo::ui {
namespace {

constexpr int kCountTickMs = 1000;

// The ids whose clicks are window commands; the rest of the controls only
// hold state.
constexpr int kCommandButtons[] = {1, 1004, 1007, 1010, 1014, 1017, 1019, 1020, 1021};

// The row counter holds this many digits whole; the template's field holds
// only two.
const QString kWidestRowCount = QStringLiteral("999999");
// QLineEdit keeps this many pixels free on either side of its text.
constexpr int kLineEditTextMargin = 2;

// To the right of the row counter, on its line.

// A replaced text shows from its start, however long it is; the same text
// again leaves the line as the user left it.
void ShowFromStart(QLineEdit& edit, const QString& text) {
  if (edit.text() != text) {
    edit.setText(text);
    edit.setCursorPosition(0);
  }
}

// Remembers a control's own focus policy while it lies outside the window.
constexpr char kFocusPolicyOutside[] = "meloFocusPolicy";

}  // namespace

void CMainDialog::BuildWindow() {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowIcon(ProgramIcon());
  BuildControls(*this, MainDialogTemplate());
  songList_ = Control<RecordListView>(1008);
  singerList_ = Control<RecordListView>(1025);

  Control<QLineEdit>(1000)->setText(QString::fromStdString(site::StartSongAddress()));
  Control<QPushButton>(1010)->setEnabled(false);
  Control<QRadioButton>(1022)->setChecked(true);
  auto* slider = Control<QSlider>(1011);
  slider->setRange(1, 1000);
  slider->setEnabled(false);
  Control<QPushButton>(1014)->setEnabled(false);
  ApplyAccessibleTexts(*this);
  WidenRowCounter();
  SetClientWidth(kNarrowClientWidth);
  ConnectControls();

  countTicker_ = new QTimer(this);
  connect(countTicker_, &QTimer::timeout, this, &CMainDialog::RefreshRowCount);
  countTicker_->start(kCountTickMs);
  RefreshRowCount();
}

void CMainDialog::ConnectControls() {
  for (const int id : kCommandButtons) {
    connect(Control<QPushButton>(id), &QPushButton::clicked, this, [this, id] { OnCommand(id); });
  }
  songList_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(songList_, &QWidget::customContextMenuRequested, this, &CMainDialog::ShowSongMenu);
  singerList_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(singerList_, &QWidget::customContextMenuRequested, this, &CMainDialog::ShowSingerMenu);

  // Enter in the search box searches (button 1021); everywhere else it stays
  // the dialog's OK.
  for (const Qt::Key enter : {Qt::Key_Return, Qt::Key_Enter}) {
    auto* shortcut = new QShortcut(QKeySequence(enter), Control(1018));
    shortcut->setContext(Qt::WidgetShortcut);
    connect(shortcut, &QShortcut::activated, this, [this] { OnCommand(1021); });
  }

  connect(Control<QRadioButton>(1022), &QRadioButton::toggled, this, [this](bool songMode) {
    searchMode_ = songMode ? scrape::SearchMode::kSong : scrape::SearchMode::kSinger;
  });

  auto* slider = Control<QSlider>(1011);
  connect(slider, &QSlider::actionTriggered, this, &CMainDialog::OnSliderScroll);
  new WindowInput(*this);  // the dialog owns it
}

void CMainDialog::RefreshRowCount() {
  ShowFromStart(*Control<QLineEdit>(1009), QString::number(songList_->RowCount()));
}

void CMainDialog::WidenRowCounter() {
  auto* counter = Control<QLineEdit>(1009);
  QRect place = counter->geometry();
  place.setWidth(counter->fontMetrics().horizontalAdvance(kWidestRowCount) +
                 2 * kLineEditTextMargin + 2);
  // Its number stands on the line of the "Sum:" label built just before it.
  const QObjectList& built = children();
  const qsizetype at = built.indexOf(counter);
  if (const auto* sum = at > 0 ? qobject_cast<QWidget*>(built[at - 1]) : nullptr) {
    place.moveCenter({place.center().x(), sum->geometry().center().y()});
  }
  counter->setGeometry(place);
  // The play state text moves right as far, and the slider after it gives
  // up as much of its left end.
  QWidget* state = Control(kPlayState);
  const int shift = place.right() + kControlGap - state->x();
  if (shift <= 0) {
    return;
  }
  state->move(state->x() + shift, state->y());
  QWidget* slider = Control(kPositionSlider);
  slider->setGeometry(slider->geometry().adjusted(shift, 0, 0, 0));
}

void CMainDialog::SetClientWidth(int width) {
  setFixedSize(width, kClientHeight);
  TakeOutsideControlsOffTheTabChain();
}

// The search panel lies beyond the window's right edge while it is closed:
// its controls leave the Tab chain then, so the focus never goes out of sight.
void CMainDialog::TakeOutsideControlsOffTheTabChain() {
  bool focusLeftTheWindow = false;
  for (QWidget* control : findChildren<QWidget*>()) {
    const bool outside = control->mapTo(this, QPoint(0, 0)).x() >= width();
    const QVariant ownPolicy = control->property(kFocusPolicyOutside);
    if (outside && !ownPolicy.isValid() && control->focusPolicy() != Qt::NoFocus) {
      control->setProperty(kFocusPolicyOutside, static_cast<int>(control->focusPolicy()));
      control->setFocusPolicy(Qt::NoFocus);
      focusLeftTheWindow = focusLeftTheWindow || control->hasFocus();
    } else if (!outside && ownPolicy.isValid()) {
      control->setFocusPolicy(static_cast<Qt::FocusPolicy>(ownPolicy.toInt()));
      control->setProperty(kFocusPolicyOutside, QVariant());
    }
  }
  if (focusLeftTheWindow) {
    focusNextChild();
  }
}

void CMainDialog::SetStatus(const std::string& gbk) {
  ShowFromStart(*Control<QLineEdit>(1003), QString::fromStdString(text::GbkToUtf8(gbk)));
}

void CMainDialog::AppendSongRow(const scrape::SongRecord& record) {
  songList_->AppendRow(
      {record.singer, record.title, record.downloadLink, record.singerLink, record.songLink});
  if (store_) {
    store_->AppendSong(record);
    HandSongsToStoreSoon();
  }
}

// The rows of one turn of the event loop go to the store's writer together,
// on the next turn: a stream of rows costs one handover a turn, and a row
// waits no longer than the turn it came in.
void CMainDialog::HandSongsToStoreSoon() {
  if (songsHandOverQueued_) {
    return;
  }
  songsHandOverQueued_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        songsHandOverQueued_ = false;
        if (store_) {
          store_->HandOverSongs();
        }
      },
      Qt::QueuedConnection);
}

void CMainDialog::AppendSingerRow(const scrape::SingerRecord& record) {
  singerList_->AppendRow({record.singer, record.singerLink});
}

void CMainDialog::contextMenuEvent(QContextMenuEvent* event) {
  // Window managers keep their window menu to themselves, so the About item
  // lives in the window's own menu.
  ShowMenu(
      *this, WindowMenu(), event->globalPos(), [this](int id) { OnCommand(id); },
      [this](int id) { return PlayModeChecked(id); });
  event->accept();
}

void CMainDialog::done(int result) {
  if (!closing_) {
    closing_ = true;
    StopPlaybackForClose();
    EndAllRuns();
    if (downloads_ != nullptr) {
      downloads_->StopAll();  // the .part files stay for the next time
      downloads_->close();
    }
    ForgetListIfAsked();
    SaveWindowPositionIfKept();
    CloseStore();
  }
  QDialog::done(result);
}

}  // namespace melo::ui
