// Web_Request: one HTTP or HTTPS exchange, start to finish, in one call.
#pragma once

#include <cstdint>
#include <optional>

#include "text/text.h"

namespace tavrolin {

// Failure messages: their first three characters are the code.
namespace web_status {
inline constexpr const char* k700 = "700 当前系统不支持WinHttp服务!";
inline constexpr const char* k701 = "701 解析URL地址失败!";
inline constexpr const char* k702 = "702 创建WinHttp会话失败!";
inline constexpr const char* k703 = "703 创建WinHttp连接失败!";
inline constexpr const char* k704 = "704 创建WinHttp请求失败!";
inline constexpr const char* k705 = "705 设置超时时间失败!";
inline constexpr const char* k707 = "707 设置代理凭证失败!";
inline constexpr const char* k708 = "708 禁止自动设置Cookies失败!";
inline constexpr const char* k709 = "709 重定向设置失败!";
inline constexpr const char* k710 = "710 设置协议头失败!";
inline constexpr const char* k711 = "711 发送请求失败!";
inline constexpr const char* k712 = "712 服务器未响应!";
inline constexpr const char* k713 = "713 读取数据失败!";
}  // namespace web_status

// Methods by number; any other number means GET.
inline constexpr std::int32_t kMethodGet = 0;
inline constexpr std::int32_t kMethodPost = 1;
inline constexpr std::int32_t kMethodHead = 2;
inline constexpr std::int32_t kMethodPut = 3;

// Returns the page text: the body taken as code page 936 up to its first NUL,
// re-decoded when the page declares a charset; the empty text on failure, with
// a 700..713 message in *status_text. Output pointers left null are not written;
// outputs keep the caller's value until written. A supplied `send_cookies`, even
// an empty one, keeps automatic cookie handling on for the call.
Text Web_Request(const Text& url, std::int32_t method = kMethodGet, const Text& post_data = {},
                 const std::optional<Text>& send_cookies = std::nullopt,
                 Text* returned_cookies = nullptr, const Text& extra_headers = {},
                 Text* returned_headers = nullptr, bool no_redirect = false,
                 const Text& auth_user = {}, const Text& auth_password = {},
                 const Text& proxy = {}, const Text& proxy_user = {},
                 const Text& proxy_password = {}, std::int32_t timeout_seconds = 0,
                 Text* returned_location = nullptr, Text* status_text = nullptr,
                 Bytes* returned_bytes = nullptr);

}  // namespace tavrolin
