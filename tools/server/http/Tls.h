#pragma once

// The HTTP front end's certificate and key, as read from their PEM files at start.

#include <string>

namespace http {

struct Tls {
    std::string certificate; // PEM: the certificate, then any intermediate ones
    std::string key;         // PEM: its private key
    std::string certificateFile, keyFile; // where they were read from, for messages

    bool on() const { return !certificate.empty(); }
};

// Why `tls` cannot serve HTTPS, naming the file and the cause; empty when it can.
std::string tlsProblem(const Tls &tls);

} // namespace http
