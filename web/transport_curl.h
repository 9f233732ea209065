// The libcurl transport. No curl header leaks out of transport_curl.cpp.
#pragma once

#include <memory>
#include <string>

#include "web/transport.h"

namespace tavrolin::web {

struct CurlTransportOptions {
  // Extra CA bundle to trust (PEM); empty means the system's store only.
  // Tests use it for their own loopback TLS server; the program never sets it.
  std::string extra_ca_file;
};

std::unique_ptr<Transport> MakeCurlTransport(CurlTransportOptions options = {});

}  // namespace tavrolin::web
