#include "web/transport.h"

#include <utility>

#include "web/transport_curl.h"

namespace tavrolin::web {
namespace {

TransportFactory& Factory() {
  static TransportFactory factory;
  return factory;
}

}  // namespace

void SetTransportFactory(TransportFactory factory) { Factory() = std::move(factory); }

std::unique_ptr<Transport> MakeTransport() {
  if (const TransportFactory& factory = Factory()) return factory();
  return MakeCurlTransport();
}

}  // namespace tavrolin::web
