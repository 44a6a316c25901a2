#include "support/FakeHttpServer.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

#include <algorithm>
#include <cctype>

namespace testsupport {

namespace {
double monotonicSeconds() {
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return double(clock.nsecsElapsed()) / 1e9;
}

const char* reasonOf(int status) {
    switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}
}  // namespace

struct FakeHttpServer::Connection {
    QTcpSocket* socket = nullptr;
    QByteArray buffer;
    QTimer* trickle = nullptr;
};

FakeHttpServer::FakeHttpServer() : server_(std::make_unique<QTcpServer>()) {
    server_->listen(QHostAddress::LocalHost, 0);
    QObject::connect(server_.get(), &QTcpServer::newConnection, server_.get(), [this] { accept(); });
}

FakeHttpServer::~FakeHttpServer() {
    for (auto& connection : connections_) {
        if (connection->trickle) connection->trickle->stop();
        connection->socket->disconnect();
        connection->socket->abort();
        delete connection->socket;
    }
}

std::string FakeHttpServer::origin() const { return "http://127.0.0.1:" + std::to_string(server_->serverPort()); }

std::string FakeHttpServer::refusingOrigin() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const auto port = probe.serverPort();
    probe.close();
    return "http://127.0.0.1:" + std::to_string(port);
}

void FakeHttpServer::script(const std::string& path, std::vector<Reply> replies, Reply otherwise) {
    scripts_[path] = Script{std::move(replies), 0, std::move(otherwise)};
}

void FakeHttpServer::setGate(Gate gate) { gate_ = std::move(gate); }

void FakeHttpServer::script(const std::string& path, std::vector<Reply> replies) {
    script(path, std::move(replies), Reply());
}

std::vector<FakeHttpServer::Request> FakeHttpServer::requests(const std::string& path) const {
    std::vector<Request> found;
    for (const auto& request : requests_)
        if (path.empty() || request.path == path) found.push_back(request);
    return found;
}

bool FakeHttpServer::waitForRequests(const std::string& path, std::size_t count, double seconds) const {
    return runLoopUntil([&] { return requests(path).size() >= count; }, seconds);
}

void FakeHttpServer::accept() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        auto connection = std::make_unique<Connection>();
        connection->socket = socket;
        socket->setParent(nullptr);
        Connection* raw = connection.get();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, raw] { readFrom(*raw); });
        connections_.push_back(std::move(connection));
    }
}

void FakeHttpServer::readFrom(Connection& connection) {
    connection.buffer += connection.socket->readAll();
    for (;;) {
        const int headerEnd = connection.buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0) return;
        const QList<QByteArray> lines = connection.buffer.left(headerEnd).split('\n');
        Request request;
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0).toStdString();
        request.path = first.value(1).toStdString();
        std::size_t length = 0;
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines[i].indexOf(':');
            if (colon < 0) continue;
            std::string name = lines[i].left(colon).trimmed().toStdString();
            std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
            request.headers[name] = lines[i].mid(colon + 1).trimmed().toStdString();
            if (name == "content-length") length = std::stoul(request.headers[name]);
        }
        if (std::size_t(connection.buffer.size()) < std::size_t(headerEnd) + 4 + length) return;
        request.body = connection.buffer.mid(headerEnd + 4, qsizetype(length)).toStdString();
        connection.buffer.remove(0, headerEnd + 4 + qsizetype(length));
        request.receivedAt = monotonicSeconds();
        requests_.push_back(request);

        Reply reply;
        if (std::optional<Reply> refused = gate_ ? gate_(request) : std::nullopt) {
            reply = *refused;
        } else if (auto it = scripts_.find(request.path); it != scripts_.end()) {
            Script& script = it->second;
            reply = script.next < script.replies.size() ? script.replies[script.next++] : script.otherwise;
        }
        answer(connection, reply);
    }
}

void FakeHttpServer::answer(Connection& connection, const Reply& reply) {
    QTcpSocket* socket = connection.socket;
    switch (reply.kind) {
    case Reply::Kind::hang: return;
    case Reply::Kind::reset: {
        // A reset, not an orderly close.
        const linger option{1, 0};
        ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &option, sizeof option);
        socket->abort();
        return;
    }
    case Reply::Kind::huge: {
        QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: " + QByteArray::fromStdString(reply.contentType) +
                          "\r\nContent-Length: " + QByteArray::number(qsizetype(reply.hugeBytes)) +
                          "\r\nConnection: close\r\n\r\n";
        socket->write(head);
        socket->write(QByteArray(qsizetype(reply.hugeBytes), 'x'));
        return;
    }
    case Reply::Kind::trickle: {
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 100000000\r\n"
                      "Connection: close\r\n\r\n");
        connection.trickle = new QTimer(socket);
        QObject::connect(connection.trickle, &QTimer::timeout, socket, [socket] { socket->write(" "); });
        connection.trickle->start(reply.trickleMilliseconds);
        return;
    }
    case Reply::Kind::endless: {
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n\r\n");
        const QByteArray chunk = QByteArray::number(64 << 10, 16) + "\r\n" + QByteArray(64 << 10, 'x') + "\r\n";
        const auto more = [this, socket, chunk] {
            constexpr std::size_t limit = std::size_t(256) << 20;  // bounded, whatever the client does
            while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < (256 << 10) &&
                   endlessBytes_ < limit) {
                socket->write(chunk);
                endlessBytes_ += 64 << 10;
            }
        };
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket, more);
        more();
        return;
    }
    case Reply::Kind::normal: break;
    }
    QByteArray text = "HTTP/1.1 " + QByteArray::number(reply.statusCode) + " " + reasonOf(reply.statusCode) + "\r\n";
    if (!reply.contentType.empty()) text += "Content-Type: " + QByteArray::fromStdString(reply.contentType) + "\r\n";
    text += "Content-Length: " + QByteArray::number(qsizetype(reply.body.size())) + "\r\nConnection: close\r\n\r\n";
    text += QByteArray::fromStdString(reply.body);
    socket->write(text);
    socket->flush();
    socket->disconnectFromHost();
}

void runLoop(double seconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < qint64(seconds * 1000)) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

}  // namespace testsupport
