// What the main window keeps across runs: the song list and the download
// queue in the store, the user's choices in the settings file.

#include <QGuiApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QRadioButton>
#include <QScreen>

#include "core/store/ListStore.h"
#include "core/store/StoreOpening.h"
#include "ui/ControlIds.h"
#include "ui/DownloadWindow.h"
#include "ui/MainDialog.h"
#include "ui/RecordListView.h"
#include "ui/SettingsDialog.h"

namespace melo::ui {
namespace {

QString Utf8(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

void CMainDialog::RestoreSavedState() {
  if (memory_ == Memory::kForget) {
    return;
  }
  settings_ = LoadAppSettings();
  if (settings_.windowPosition && QGuiApplication::screenAt(*settings_.windowPosition)) {
    move(*settings_.windowPosition);
  }
  if (settings_.searchBySinger) {
    Control<QRadioButton>(1023)->setChecked(true);
  }
  if (settings_.searchPanelOpen) {
    SetClientWidth(kWideClientWidth);
  }
  connect(Control<QRadioButton>(1022), &QRadioButton::toggled, this,
          &CMainDialog::RememberSearchPanel);

  store::OpenedStore opened = storeOpening_->Finish([this](scrape::SongRecord&& song) {
    songList_->AppendRow(
        {song.singer, song.title, song.downloadLink, song.singerLink, song.songLink});
  });
  storeOpening_.reset();
  if (!opened.movedAside.empty()) {
    songList_->DeleteAllRows();  // what was read before the damage showed
  }
  songList_->ShowPendingRows();
  RefreshRowCount();
  store_ = std::move(opened.store);
  if (store_) {
    QPointer<CMainDialog> window(this);
    store_->OnWriteFailure([window](const std::string& why) {
      // The store goes before the window does, so `window` is still there
      // to post to; the message itself then runs on the window's thread.
      QMetaObject::invokeMethod(
          window.data(),
          [window, why] {
            if (window) {
              window->ShowStoreMessage(
                  QString::fromUtf8("无法继续保存歌曲列表 (%1)，本次运行不再保存。")
                      .arg(Utf8(why)));
            }
          },
          Qt::QueuedConnection);
    });
  }
  if (!opened.downloads.empty()) {
    Downloads().Restore(opened.downloads);
  }
  TellAboutStore(opened);
}

void CMainDialog::TellAboutStore(const store::OpenedStore& opened) {
  QString text;
  if (!opened.movedAside.empty()) {
    text = QString::fromUtf8("保存的歌曲列表文件已损坏或无法识别，已移至:\n%1\n程序以空列表启动。")
               .arg(QString::fromStdString(opened.movedAside.string()));
  }
  if (opened.state == store::StoreState::kInUse) {
    text = QString::fromUtf8("歌曲列表正被另一个窗口使用。本窗口不保存歌曲列表，设置仍会保存。");
  } else if (opened.state == store::StoreState::kUnwritable) {
    if (!text.isEmpty()) {
      text += QStringLiteral("\n\n");
    }
    text += QString::fromUtf8("无法保存歌曲列表 (%1)，本次运行不保存。").arg(Utf8(opened.problem));
  }
  if (!text.isEmpty()) {
    ShowStoreMessage(text);
  }
}

// Not modal to the program: the window shows and works behind it.
void CMainDialog::ShowStoreMessage(const QString& text) {
  auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("melodriftdown"), text,
                              QMessageBox::Ok, this);
  box->setObjectName(QStringLiteral("StoreMessage"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);
  QMetaObject::invokeMethod(box, &QWidget::show, Qt::QueuedConnection);
}

void CMainDialog::SetUpDownloadMemory(DownloadWindow& downloads) {
  if (memory_ == Memory::kForget) {
    return;
  }
  downloads.SetChoices(settings_.downloads);
  if (store_) {
    downloads.KeepIn(store_.get());
  }
  connect(&downloads, &DownloadWindow::FolderChosen, this, [this](const QString& folder) {
    settings_.downloads.folder = folder;
    SaveDownloadChoices(settings_.downloads);
  });
}

void CMainDialog::OnSettings() {
  auto* dialog = new SettingsDialog(settings_.downloads, settings_.clearListOnExit, this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowModality(Qt::ApplicationModal);
  connect(dialog, &QDialog::accepted, this, [this, dialog] {
    settings_.downloads = dialog->Choices();
    settings_.clearListOnExit = dialog->ClearListOnExit();
    if (downloads_ != nullptr) {
      downloads_->SetChoices(settings_.downloads);
    }
    if (memory_ == Memory::kRemember) {
      SaveDownloadChoices(settings_.downloads);
      SaveClearListOnExit(settings_.clearListOnExit);
    }
  });
  dialog->show();
}

void CMainDialog::RememberSearchPanel() {
  if (memory_ == Memory::kRemember) {
    SaveSearchPanel(width() == kWideClientWidth, Control<QRadioButton>(1023)->isChecked());
  }
}

void CMainDialog::CloseStore() {
  if (downloads_ != nullptr) {
    downloads_->KeepIn(nullptr);
  }
  store_.reset();  // what is still queued is written now
}

void CMainDialog::ForgetListIfAsked() {
  if (store_ && settings_.clearListOnExit) {
    store_->ClearSongs();
  }
}

void CMainDialog::SaveWindowPositionIfKept() {
  if (memory_ == Memory::kRemember) {
    SaveWindowPosition(pos());
  }
}

}  // namespace melo::ui
