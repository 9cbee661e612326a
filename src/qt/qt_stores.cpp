#include "qt/qt_stores.h"

#include <QEventLoop>
#include <QTimer>
#include <qt6keychain/keychain.h>

namespace kestrane::qt {

namespace {
QString Path(const std::string& section, const std::string& key) {
    return QString::fromStdString(section) + "/" + QString::fromStdString(key);
}
}  // namespace

QtSettingsStore::QtSettingsStore(const QString& applicationName)
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                            applicationName, applicationName)) {}

std::unique_ptr<QtSettingsStore> QtSettingsStore::AtPath(const QString& iniPath) {
    std::unique_ptr<QtSettingsStore> s(new QtSettingsStore());
    s->settings_ = std::make_unique<QSettings>(iniPath, QSettings::IniFormat);
    return s;
}

std::string QtSettingsStore::get(const std::string& section, const std::string& key) const {
    return settings_->value(Path(section, key), QString()).toString().toStdString();
}

bool QtSettingsStore::contains(const std::string& section, const std::string& key) const {
    return settings_->contains(Path(section, key));
}

void QtSettingsStore::set(const std::string& section, const std::string& key, const std::string& value) {
    settings_->setValue(Path(section, key), QString::fromStdString(value));
}

void QtSettingsStore::remove(const std::string& section, const std::string& key) {
    settings_->remove(Path(section, key));
}

bool QtSettingsStore::sync() {
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

namespace {

struct JobResult {
    bool finished = false;
    QKeychain::Error error = QKeychain::OtherError;
    QString text;
    QEventLoop* loop = nullptr;
};

// Runs a keychain job; one that does not finish within a few seconds counts
// as failed rather than freezing the window. Such a job is left to finish
// and delete itself: the keyring still calls back into it later.
std::shared_ptr<const JobResult> RunJob(QKeychain::Job* job) {
    auto r = std::make_shared<JobResult>();
    QEventLoop loop;
    r->loop = &loop;
    QObject::connect(job, &QKeychain::Job::finished, job, [r](QKeychain::Job* j) {
        r->finished = true;
        r->error = j->error();
        if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(j)) r->text = read->textData();
        if (r->loop) r->loop->quit();
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    job->setInsecureFallback(false);
    job->setAutoDelete(true);
    job->start();
    if (!r->finished) loop.exec(QEventLoop::ExcludeUserInputEvents);
    r->loop = nullptr;
    return r;
}

}  // namespace

std::optional<std::string> KeychainSecretStore::read(const std::string& key) {
    auto* job = new QKeychain::ReadPasswordJob(service_);
    job->setKey(QString::fromStdString(key));
    auto r = RunJob(job);
    if (!r->finished) return std::nullopt;
    if (r->error == QKeychain::EntryNotFound) return std::string();
    if (r->error != QKeychain::NoError) return std::nullopt;
    return r->text.toStdString();
}

std::vector<std::string> QtSettingsStore::keys(const std::string& section) const {
    settings_->beginGroup(QString::fromStdString(section));
    std::vector<std::string> out;
    for (const QString& k : settings_->childKeys()) out.push_back(k.toStdString());
    settings_->endGroup();
    return out;
}

bool KeychainSecretStore::write(const std::string& key, const std::string& secret) {
    auto* job = new QKeychain::WritePasswordJob(service_);
    job->setKey(QString::fromStdString(key));
    job->setTextData(QString::fromStdString(secret));
    auto r = RunJob(job);
    return r->finished && r->error == QKeychain::NoError;
}

bool KeychainSecretStore::remove(const std::string& key) {
    auto* job = new QKeychain::DeletePasswordJob(service_);
    job->setKey(QString::fromStdString(key));
    auto r = RunJob(job);
    return r->finished && (r->error == QKeychain::NoError || r->error == QKeychain::EntryNotFound);
}

std::optional<std::string> MemorySecretStore::read(const std::string& key) {
    auto it = secrets_.find(key);
    return it == secrets_.end() ? std::string() : it->second;
}

bool MemorySecretStore::write(const std::string& key, const std::string& secret) {
    secrets_[key] = secret;
    return true;
}

bool MemorySecretStore::remove(const std::string& key) {
    secrets_.erase(key);
    return true;
}

std::optional<std::string> FallbackSecretStore::read(const std::string& key) {
    auto mem = memory_.read(key);
    if (mem && !mem->empty()) return mem;
    // Nothing kept for this run: the keyring's answer, none when it does not
    // answer (so a password that was kept for one session is known missing).
    return primary_->read(key);
}

bool FallbackSecretStore::write(const std::string& key, const std::string& secret) {
    if (primary_->write(key, secret)) {
        memory_.remove(key);
        return true;
    }
    memory_.write(key, secret);
    return false;
}

bool FallbackSecretStore::remove(const std::string& key) {
    memory_.remove(key);
    return primary_->remove(key);
}

}  // namespace kestrane::qt
