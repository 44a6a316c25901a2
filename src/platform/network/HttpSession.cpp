#include "platform/network/HttpSession.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/OSLog.h"
#include "platform/network/Endpoints.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <map>
#include <memory>
#include <mutex>

namespace platform {

std::string HttpResponse::mediaType() const {
    std::string type = contentType.substr(0, contentType.find(';'));
    type.erase(std::remove_if(type.begin(), type.end(), [](unsigned char c) { return std::isspace(c); }), type.end());
    std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return type;
}

namespace {

const OSLog networkLog{"io.tamberlo.Tamberlo", "network"};
constexpr std::size_t kReadBufferSize = 64 << 10;

// Keeps and sends no cookies at all.
class NoCookies : public QNetworkCookieJar {
public:
    QList<QNetworkCookie> cookiesForUrl(const QUrl&) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie>&, const QUrl&) override { return false; }
};

struct Request {
    std::string url;
    QByteArray body;
    HttpHeaders headers;
    HttpSession::Configuration configuration;
    HttpSession::Completion completion;
    DispatchQueue* queue = nullptr;
    // Network-thread state.
    QNetworkAccessManager* manager = nullptr;
    QNetworkReply* reply = nullptr;
    QByteArray received;
};

void deliver(const HttpSession::Completion& completion, DispatchQueue* queue, HttpResponse response) {
    if (!completion) return;
    if (!queue) {
        completion(response);
        return;
    }
    queue->async([completion, response = std::move(response)] { completion(response); });
}

HttpResponse transportError(HttpError::Code code, std::string message) {
    HttpResponse response;
    response.error = HttpError{code, std::move(message)};
    return response;
}

HttpError::Code codeFor(QNetworkReply::NetworkError error) {
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError: return HttpError::Code::cannotConnect;
    case QNetworkReply::RemoteHostClosedError: return HttpError::Code::connectionLost;
    case QNetworkReply::TimeoutError: return HttpError::Code::timedOut;
    case QNetworkReply::OperationCanceledError: return HttpError::Code::cancelled;
    case QNetworkReply::SslHandshakeFailedError: return HttpError::Code::secureConnectionFailed;
    default: return HttpError::Code::other;
    }
}

// One thread for every request of the process, with its own event loop and access manager.
class NetworkThread {
public:
    static NetworkThread& shared() {
        static NetworkThread* thread = new NetworkThread;  // lives until the process ends
        return *thread;
    }

    void send(std::shared_ptr<Request> request) {
        std::unique_lock lock(mutex_);
        if (stopped_) {
            lock.unlock();
            deliver(request->completion, request->queue,
                    transportError(HttpError::Code::cancelled, "the application is quitting"));
            return;
        }
        startLocked();
        const uint64_t id = nextId_++;
        inFlight_[id] = request;
        lock.unlock();
        QMetaObject::invokeMethod(context_, [this, id] { start(id); }, Qt::QueuedConnection);
    }

    std::size_t inFlight() {
        std::lock_guard lock(mutex_);
        return inFlight_.size();
    }

    void shutdown() {
        std::map<uint64_t, std::shared_ptr<Request>> pending;
        {
            std::lock_guard lock(mutex_);
            if (stopped_) return;
            stopped_ = true;
            pending.swap(inFlight_);
        }
        const bool onMain = DispatchQueue::main().isCurrent();
        for (auto& [id, request] : pending) {
            HttpResponse cancelled = transportError(HttpError::Code::cancelled, "the application is quitting");
            // The main loop may not turn again: the main thread answers its own completions now.
            if (request->queue == &DispatchQueue::main() && onMain)
                deliver(request->completion, nullptr, cancelled);
            else
                deliver(request->completion, request->queue, cancelled);
        }
        if (!started_) return;
        if (QThread::currentThread() == &thread_) {
            teardown();
            thread_.quit();
            return;
        }
        QMetaObject::invokeMethod(context_, [this] { teardown(); }, Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait(2000);
    }

private:
    NetworkThread() { thread_.setObjectName("io.tamberlo.network"); }

    void startLocked() {
        if (started_) return;
        started_ = true;
        context_ = new QObject;
        context_->moveToThread(&thread_);
        thread_.start();
        if (auto* app = QCoreApplication::instance()) {
            QObject::connect(app, &QCoreApplication::aboutToQuit, app, [] { HttpSession::shutdown(); },
                             Qt::DirectConnection);
            qAddPostRoutine([] { HttpSession::shutdown(); });
        }
    }

    std::shared_ptr<Request> find(uint64_t id) {
        std::lock_guard lock(mutex_);
        const auto it = inFlight_.find(id);
        return it == inFlight_.end() ? nullptr : it->second;
    }

    // Network thread. Ends a request once: later calls for the same request find nothing.
    void finish(uint64_t id, HttpResponse response) {
        std::shared_ptr<Request> request;
        {
            std::lock_guard lock(mutex_);
            const auto it = inFlight_.find(id);
            if (it == inFlight_.end()) return;
            request = it->second;
            inFlight_.erase(it);
        }
        if (QNetworkReply* reply = request->reply) {
            request->reply = nullptr;
            reply->disconnect();
            if (reply->isRunning()) reply->abort();
            reply->deleteLater();
        }
        // Its connection goes with it, whatever the reply still had to send.
        if (QNetworkAccessManager* manager = request->manager) {
            request->manager = nullptr;
            manager->clearConnectionCache();
            manager->deleteLater();
        }
        deliver(request->completion, request->queue, std::move(response));
    }

    HttpResponse replyResponse(const Request& request) const {
        QNetworkReply* reply = request.reply;
        HttpResponse response;
        response.statusCode = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        response.contentType = reply->rawHeader("Content-Type").toStdString();
        return response;
    }

    // Network thread: moves what arrived into the request; false (the request ended, failed) once
    // the reply passes the size cap.
    bool take(uint64_t id, Request& request, QNetworkReply& reply) {
        const std::size_t cap = request.configuration.maximumBodySize;
        // Never more than one byte past the cap is kept: that byte is what tells the reply is too long.
        const std::size_t held = std::min(std::size_t(request.received.size()), cap + 1);
        request.received += reply.read(std::min(qint64(cap + 1 - held), reply.bytesAvailable()));
        if (std::size_t(request.received.size()) <= cap) return true;
        HttpResponse response = replyResponse(request);
        response.bodyDiscarded = true;
        response.error = HttpError{HttpError::Code::replyTooLarge,
                                   "the reply is longer than " + std::to_string(cap) + " bytes"};
        request.received.clear();
        os_log(networkLog, OSLogType::info,
               "reply of " + request.url + " is longer than " + std::to_string(cap) + " bytes: request aborted");
        finish(id, std::move(response));  // aborts the reply and closes its connection
        return false;
    }

    void start(uint64_t id) {
        const auto request = find(id);
        if (!request) return;
        QNetworkRequest qrequest(QUrl(QString::fromStdString(request->url)));
        qrequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
        qrequest.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
        qrequest.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
        qrequest.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
        qrequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        for (const auto* list : {&request->configuration.headers, &request->headers})
            for (const auto& [name, value] : *list) qrequest.setRawHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
        if (!qrequest.hasRawHeader("Content-Type")) qrequest.setRawHeader("Content-Type", "application/octet-stream");

        // Each request has an access manager, and so a connection, of its own: when the request ends
        // early (a reply past the cap), its connection closes with the manager, where a connection
        // kept for reuse would first be read to the end of the reply (maybe never).
        auto* manager = new QNetworkAccessManager(context_);
        manager->setCookieJar(new NoCookies);
        manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
        manager->setAutoDeleteReplies(false);
        request->manager = manager;
        qrequest.setRawHeader("Connection", "close");
        QNetworkReply* reply = manager->post(qrequest, request->body);
        request->reply = reply;
        // The access manager reads no further ahead of us than this, so a reply past the cap stops
        // at the socket instead of piling up in memory. A post starts in a later turn, and a limit
        // set before that never reaches the thread that reads the socket: it is set again once the
        // request has started (before its connection is made, and again once it is sent).
        const auto limitReading = [reply] { reply->setReadBufferSize(qint64(kReadBufferSize)); };
        limitReading();
        QObject::connect(reply, &QNetworkReply::socketStartedConnecting, reply, limitReading);
        QObject::connect(reply, &QNetworkReply::requestSent, reply, limitReading);
        const auto& configuration = request->configuration;

        auto* idle = new QTimer(reply);
        idle->setSingleShot(true);
        idle->setInterval(int(std::max(1.0, configuration.idleTimeout * 1000.0)));
        auto* ceiling = new QTimer(reply);
        ceiling->setSingleShot(true);
        ceiling->setInterval(int(std::max(1.0, configuration.requestCeiling * 1000.0)));
        const auto restartIdle = [idle] { idle->start(); };
        QObject::connect(reply, &QNetworkReply::uploadProgress, idle, restartIdle);
        QObject::connect(reply, &QNetworkReply::downloadProgress, idle, restartIdle);
        QObject::connect(reply, &QNetworkReply::metaDataChanged, idle, restartIdle);
        QObject::connect(idle, &QTimer::timeout, reply, [this, id, seconds = configuration.idleTimeout] {
            finish(id, transportError(HttpError::Code::timedOut,
                                      "no data for " + std::to_string(int(seconds)) + " s"));
        });
        QObject::connect(ceiling, &QTimer::timeout, reply, [this, id, seconds = configuration.requestCeiling] {
            finish(id, transportError(HttpError::Code::timedOut,
                                      "request still running after " + std::to_string(int(seconds)) + " s"));
        });
        // The reply is taken as it arrives, so a reply past the cap ends the request there instead of
        // being read to its end first.
        QObject::connect(reply, &QNetworkReply::readyRead, reply, [this, id, request, idle] {
            idle->start();
            if (QNetworkReply* r = request->reply) take(id, *request, *r);
        });
        QObject::connect(reply, &QNetworkReply::finished, reply, [this, id, request] {
            QNetworkReply* r = request->reply;
            if (!r || !take(id, *request, *r)) return;
            HttpResponse response = replyResponse(*request);
            const auto error = r->error();
            const bool transport = error != QNetworkReply::NoError &&
                                   (response.statusCode == 0 || int(error) < 200 ||
                                    error == QNetworkReply::ProtocolFailure);
            if (transport)
                response = transportError(codeFor(error), r->errorString().toStdString());
            else
                response.body = request->received.toStdString();
            finish(id, std::move(response));
        });
        idle->start();
        ceiling->start();
    }

    // Network thread: drops every reply and the access managers.
    void teardown() {
        for (auto* manager : context_->findChildren<QNetworkAccessManager*>(Qt::FindDirectChildrenOnly)) delete manager;
    }

    std::mutex mutex_;
    std::map<uint64_t, std::shared_ptr<Request>> inFlight_;
    uint64_t nextId_ = 1;
    bool started_ = false;
    bool stopped_ = false;
    QThread thread_;
    QObject* context_ = nullptr;
};

std::atomic<bool> notConfiguredLogged{false};

}  // namespace

HttpSession::HttpSession() : HttpSession(Configuration()) {}

HttpSession::HttpSession(Configuration configuration) : HttpSession(std::move(configuration), &DispatchQueue::main()) {}

HttpSession::HttpSession(Configuration configuration, DispatchQueue* completionQueue)
    : configuration_(std::move(configuration)), queue_(completionQueue) {}

HttpSession::~HttpSession() = default;

void HttpSession::post(const std::string& url, std::string body, const HttpHeaders& headers, Completion completion) {
    if (const auto refusal = Endpoints::refusal(url)) {
        const bool notConfigured = url.empty();
        // An unconfigured endpoint is the normal state of a development build: say so once.
        if (!notConfigured || !notConfiguredLogged.exchange(true))
            os_log(networkLog, OSLogType::info, *refusal);
        HttpResponse response = transportError(
            notConfigured ? HttpError::Code::notConfigured : HttpError::Code::refusedByPolicy, *refusal);
        // Never inside the caller's own call: the completion comes in a later turn.
        if (queue_)
            deliver(std::move(completion), queue_, std::move(response));
        else
            DispatchQueue::global().async([completion, response] { completion(response); });
        return;
    }
    auto request = std::make_shared<Request>();
    request->url = url;
    request->body = QByteArray::fromStdString(body);
    request->headers = headers;
    request->configuration = configuration_;
    request->completion = std::move(completion);
    request->queue = queue_;
    NetworkThread::shared().send(std::move(request));
}

void HttpSession::shutdown() { NetworkThread::shared().shutdown(); }

std::size_t HttpSession::requestsInFlight() { return NetworkThread::shared().inFlight(); }

}  // namespace platform
