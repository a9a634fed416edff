#include "app/QtDialogs.h"

#include "app/DialogFolders.h"
#include "platform/FileDialog.h"
#include "platform/MessageBox.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QThread>
#include <QWidget>

namespace {

QPointer<QWidget> dialogOwner; // User-interface thread only

QString fromText(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Runs f on the user-interface thread and returns its result; from another
// thread the caller blocks until f has run.
template <typename F> auto onUiThread(F f) -> decltype(f()) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() == app->thread()) {
        return f();
    }
    decltype(f()) result{};
    QMetaObject::invokeMethod(
        app, [&] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
}

MessageAnswer showMessageBox(const MessageRequest& request) {
    const QString caption =
        fromText(request.caption.empty() ? std::string("Velumo") : request.caption);
    if (request.buttons == MessageButtons::YesNo) {
        const auto answer =
            QMessageBox::question(dialogOwner, caption, fromText(request.text),
                                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        return answer == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
    }
    QMessageBox::information(dialogOwner, caption, fromText(request.text), QMessageBox::Ok);
    return MessageAnswer::Ok;
}

// "Desc|*.a;*.b|..." -> the Qt filter list "Desc (*.a *.b)".
QStringList qtFilters(const std::string& filter) {
    QStringList filters;
    for (const auto& [description, patterns] : parseFileFilter(filter)) {
        QString qtPatterns = fromText(patterns);
        qtPatterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << QStringLiteral("%1 (%2)").arg(fromText(description), qtPatterns);
    }
    return filters;
}

// The request's folder, or where the last dialog of its kind was confirmed.
QString startFolder(const std::string& requested, DialogKind kind) {
    if (!requested.empty()) {
        return fromText(requested);
    }
    return QFile::decodeName(
        QByteArray::fromStdString(DialogFolders::fromEnvironment().folder(kind)));
}

void rememberFolderOf(const QString& chosen, DialogKind kind) {
    const QByteArray folder = QFile::encodeName(QFileInfo(chosen).absolutePath());
    DialogFolders::fromEnvironment().remember(kind, folder.toStdString());
}

void selectFilter(QFileDialog& dialog, const QStringList& filters, int index) {
    dialog.setNameFilters(filters);
    if (index >= 1 && index <= filters.size()) {
        dialog.selectNameFilter(filters[index - 1]);
    }
}

std::vector<std::string> showOpenDialog(const OpenFilesRequest& request) {
    QFileDialog dialog(dialogOwner, fromText(request.title),
                       startFolder(request.initialDirectory, DialogKind::AddFiles));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(request.multipleSelection ? QFileDialog::ExistingFiles
                       : request.fileMustExist   ? QFileDialog::ExistingFile
                                                 : QFileDialog::AnyFile);
    selectFilter(dialog, qtFilters(request.filter), request.filterIndex);
    std::vector<std::string> paths;
    if (dialog.exec() == QDialog::Accepted) {
        for (const QString& path : dialog.selectedFiles()) {
            paths.push_back(path.toUtf8().toStdString());
        }
        if (!dialog.selectedFiles().isEmpty()) {
            rememberFolderOf(dialog.selectedFiles().first(), DialogKind::AddFiles);
        }
    }
    return paths;
}

std::optional<std::string> showSaveDialog(const SaveFileRequest& request) {
    QFileDialog dialog(dialogOwner, fromText(request.title),
                       startFolder(request.initialDirectory, DialogKind::SaveConverted));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
    dialog.setDefaultSuffix(fromText(request.defaultExtension));
    selectFilter(dialog, qtFilters(request.filter), request.filterIndex);
    if (!request.proposedName.empty()) {
        dialog.selectFile(fromText(request.proposedName));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    rememberFolderOf(dialog.selectedFiles().first(), DialogKind::SaveConverted);
    return dialog.selectedFiles().first().toUtf8().toStdString();
}

} // namespace

void installQtDialogs(QWidget* owner) {
    dialogOwner = owner;
    setMessageHandler([](const MessageRequest& request) {
        QCoreApplication* app = QCoreApplication::instance();
        if (request.buttons != MessageButtons::YesNo && app != nullptr &&
            QThread::currentThread() != app->thread()) {
            // Nothing to answer: the worker goes on at once. Waiting here
            // could deadlock, for the user-interface thread may itself be
            // waiting for this worker (a recorder being stopped, an analyser's
            // lock) when the message arrives.
            QMetaObject::invokeMethod(
                app, [request] { showMessageBox(request); }, Qt::QueuedConnection);
            return MessageAnswer::Ok;
        }
        return onUiThread([&] { return showMessageBox(request); });
    });
    setOpenFilesHandler([](const OpenFilesRequest& request) {
        return onUiThread([&] { return showOpenDialog(request); });
    });
    setSaveFileHandler([](const SaveFileRequest& request) {
        return onUiThread([&] { return showSaveDialog(request); });
    });
}

void removeQtDialogs() {
    setMessageHandler({});
    setOpenFilesHandler({});
    setSaveFileHandler({});
    dialogOwner = nullptr;
}
