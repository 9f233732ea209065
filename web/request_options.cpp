#include "text/text_ops.h"
#include "web/stages.h"
#include "web/web_request.h"
#include "web/wide.h"

namespace tavrolin::web {

const char* ApplyRequestOptions(Transport& transport, InternetHandle request,
                                const OptionArgs& args) {
  // 1. Server credentials, only with both a user name and a password.
  if (Text_Length(args.auth_user) > 0 && Text_Length(args.auth_password) > 0 &&
      !transport.SetCredentials(request, kAuthTargetServer, kAuthSchemeBasic,
                                ToWideString(args.auth_user), ToWideString(args.auth_password))) {
    return web_status::k707;
  }

  // 2. Proxy credentials, whether or not a proxy is given.
  if (Text_Length(args.proxy_user) > 0 && Text_Length(args.proxy_password) > 0 &&
      !transport.SetCredentials(request, kAuthTargetProxy, kAuthSchemeBasic,
                                ToWideString(args.proxy_user), ToWideString(args.proxy_password))) {
    return web_status::k707;
  }

  // 3. Cookie option. A caller who passes cookies keeps the service's automatic
  // cookie handling, so a cookie set by a redirect goes out on the next hop;
  // every other call (every lookup) switches it off.
  if (!args.send_cookies_supplied &&
      !transport.SetOption(request, kOptionDisableFeature, kDisableCookies)) {
    return web_status::k708;
  }

  // 4. Redirect option.
  if (args.no_redirect && !transport.SetOption(request, kOptionDisableFeature, kDisableRedirects)) {
    return web_status::k709;
  }
  return nullptr;
}

}  // namespace tavrolin::web
