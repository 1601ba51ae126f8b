#include "protocols/http/url.h"

#include <gtest/gtest.h>

namespace vek::httpwire {
namespace {

struct ParseCase {
  std::string text{};
  bool ok = false;
  bool https = false;
  std::string host{};
  int port = 0;
  std::string target{};
  std::string user{};
  std::string password{};
};

TEST(HttpUrlTest, ParsesWhatCallersWrite) {
  const ParseCase cases[] = {
      {"http://example.com", true, false, "example.com", 80, "/"},
      {"  example.com/a b ", false},  // a blank inside is refused
      {"example.com/x?y=1  ", true, false, "example.com", 80, "/x?y=1"},
      {"HTTPS://Example.com:8443/p#frag", true, true, "Example.com", 8443, "/p"},
      {"https://example.com", true, true, "example.com", 443, "/"},
      {"http://u:p%40ss@h:81/x", true, false, "h", 81, "/x", "u", "p@ss"},
      {"http://u:p@ss@h/x", true, false, "h", 80, "/x", "u", "p@ss"},
      // '@' after the authority is not a credential separator.
      {"http://h/path?mail=a@b.c", true, false, "h", 80, "/path?mail=a@b.c"},
      {"http://h?to=u@x", true, false, "h", 80, "/?to=u@x"},
      {"http://h\\PHP\\page.php", true, false, "h", 80, "/PHP\\page.php"},
      {"http://[::1]:8080/v6", true, false, "::1", 8080, "/v6"},
      {"http://h/\xc3\xa9", true, false, "h", 80, "/%C3%A9"},
      // Refused: bytes that would end the request line, bad hosts and ports.
      {"http://h/a\r\nX-Injected: 1", false},
      {"http://h/a\tb", false},
      {"http://h/a\x7f", false},
      {"http://h:0/", false},
      {"http://h:65536/", false},
      {"http://h:8o/", false},
      {"http://ho st/", false},
      {"http:///path", false},
      {"ftp://h/file", false},
      {"http://user@/x", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto url = parseUrl(c.text);
    ASSERT_EQ(url.ok(), c.ok) << (url.ok() ? url->text() : url.status().message());
    if (!c.ok) continue;
    EXPECT_EQ(url->https, c.https);
    EXPECT_EQ(url->host, c.host);
    EXPECT_EQ(url->port, c.port);
    EXPECT_EQ(url->target, c.target);
    EXPECT_EQ(url->has_credentials, !c.user.empty());
    EXPECT_EQ(url->user, c.user);
    EXPECT_EQ(url->password, c.password);
  }
}

TEST(HttpUrlTest, AuthorityCarriesThePortOnlyWhenNotTheDefault) {
  EXPECT_EQ(parseUrl("http://h:80/")->authority(), "h");
  EXPECT_EQ(parseUrl("http://h:443/")->authority(), "h:443");
  EXPECT_EQ(parseUrl("https://h:443/")->authority(), "h");
  EXPECT_EQ(parseUrl("http://[::1]:81/")->authority(), "[::1]:81");
}

// The examples of RFC 3986 section 5.4 (fragments are dropped: they never
// travel to the server).
TEST(HttpUrlTest, ResolvesReferencesAsRfc3986) {
  auto base = parseUrl("http://a/b/c/d;p?q");
  ASSERT_TRUE(base.ok());
  const std::pair<std::string, std::string> cases[] = {
      {"g", "http://a/b/c/g"},
      {"./g", "http://a/b/c/g"},
      {"g/", "http://a/b/c/g/"},
      {"/g", "http://a/g"},
      {"//g", "http://g/"},
      {"?y", "http://a/b/c/d;p?y"},
      {"g?y", "http://a/b/c/g?y"},
      {"#s", "http://a/b/c/d;p?q"},
      {"g#s", "http://a/b/c/g"},
      {";x", "http://a/b/c/;x"},
      {"", "http://a/b/c/d;p?q"},
      {".", "http://a/b/c/"},
      {"./", "http://a/b/c/"},
      {"..", "http://a/b/"},
      {"../", "http://a/b/"},
      {"../g", "http://a/b/g"},
      {"../..", "http://a/"},
      {"../../g", "http://a/g"},
      {"../../../g", "http://a/g"},
      {"../../../../g", "http://a/g"},
      {"/./g", "http://a/g"},
      {"/../g", "http://a/g"},
      {"g.", "http://a/b/c/g."},
      {".g", "http://a/b/c/.g"},
      {"g..", "http://a/b/c/g.."},
      {"..g", "http://a/b/c/..g"},
      {"./../g", "http://a/b/g"},
      {"./g/.", "http://a/b/c/g/"},
      {"g/./h", "http://a/b/c/g/h"},
      {"g/../h", "http://a/b/c/h"},
      {"g;x=1/./y", "http://a/b/c/g;x=1/y"},
      {"g;x=1/../y", "http://a/b/c/y"},
      {"g?y/./x", "http://a/b/c/g?y/./x"},
      {"https://other:8443/x/../y", "https://other:8443/y"},
  };
  for (const auto& [ref, want] : cases) {
    auto got = resolveReference(*base, ref);
    ASSERT_TRUE(got.ok()) << ref;
    EXPECT_EQ(got->text(), want) << ref;
  }
  auto from = parseUrl("http://h/x/y/a");
  EXPECT_EQ(resolveReference(*from, "../b")->target, "/x/b");
  EXPECT_FALSE(resolveReference(*from, "mailto:a@b").ok());
  EXPECT_FALSE(resolveReference(*from, "/a b").ok());
  EXPECT_FALSE(resolveReference(*from, "javascript:alert(1)").ok());
}

TEST(HttpUrlTest, ResolutionKeepsSchemeAndDropsCredentials) {
  auto base = parseUrl("https://u:p@h:444/dir/page");
  ASSERT_TRUE(base.ok());
  auto same = resolveReference(*base, "next");
  EXPECT_TRUE(same->https);
  EXPECT_EQ(same->authority(), "h:444");
  EXPECT_FALSE(same->has_credentials);  // carrying them is the client's decision
  auto other = resolveReference(*base, "//v:w@elsewhere/");
  EXPECT_TRUE(other->https);
  EXPECT_EQ(other->user, "v");
}

}  // namespace
}  // namespace vek::httpwire
