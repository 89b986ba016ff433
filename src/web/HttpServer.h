#pragma once
// The HTTP side of the service: one listening socket, and a thread for each connection (blocking
// sockets are what Wine runs fastest). Every request is read with limits and timeouts, so a bad
// or idle client only ever costs its own connection, and a full house makes room for a newcomer.

#include "web/ImageHub.h"
#include "web/WebOptions.h"

#include <memory>
#include <string>

namespace lumetra::web {

class HttpServer {
  public:
    HttpServer(const WebOptions& options, std::shared_ptr<ImageHub> hub);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and starts listening; false with a sentence in `error` when the address cannot be used.
    bool Start(std::string& error);
    // "http://127.0.0.1:8080/"
    std::string Address() const;
    // Stops taking connections; connections still open end at their next timeout or with the
    // process.
    void Stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace lumetra::web
