// The server as other programs on the machine meet it: only requests with
// its token and its own address as Host reach the device, a body is at most
// 64 KiB, and nothing refused changes the story.
#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <thread>

#include "tools/qxsim/serve/server.h"

namespace qx::qxsim {
namespace {

namespace fs = std::filesystem;
constexpr const char* kToken = "0123456789abcdef0123456789abcdef";

class ServeHttp : public testing::Test {
 protected:
  static fs::path FreshRoot() {
    const fs::path root = fs::temp_directory_path() / "qx_serve_http";
    fs::remove_all(root);
    fs::create_directories(root / "inside");
    return root;
  }

  void SetUp() override {
    std::string error;
    ASSERT_TRUE(session_.Open("start client\n", &error)) << error;
    port_ = server_.Bind(0);
    ASSERT_GT(port_, 0);
    thread_ = std::thread([this] { server_.Run(); });
  }
  void TearDown() override {
    server_.Stop();
    thread_.join();
    fs::remove_all(root_);
  }

  struct Reply {
    int status = 0;
    std::string body;
  };
  Reply Send(const std::string& method, const std::string& path, httplib::Headers headers, const std::string& body = {}) {
    httplib::Client client("127.0.0.1", port_);
    const auto result = method == "GET" ? client.Get(path.c_str(), headers)
                                        : client.Post(path.c_str(), headers, body, "text/plain");
    return result ? Reply{result->status, result->body} : Reply{};
  }
  httplib::Headers Own() const { return {{"X-Qxsim-Token", kToken}}; }

  const fs::path root_ = FreshRoot();
  Session session_{root_ / "inside" / "story.qxs", root_ / "inside"};
  Server server_{session_, kToken};
  int port_ = 0;
  std::thread thread_;
};

TEST_F(ServeHttp, RequestsThatAreRefusedChangeNothing) {
  const std::string own = std::to_string(port_);
  const std::string other = std::to_string(port_ == 65535 ? 1 : port_ + 1);
  const Reply before = Send("GET", "/scenario", Own());
  ASSERT_EQ(before.status, 200);
  struct Case {
    std::string method, path;
    httplib::Headers headers;
    std::string body;
    int status;
    std::string says;
  };
  const Case cases[] = {
      {"POST", "/steps", {}, "close client", 403, "forbidden"},
      {"POST", "/steps", {{"X-Qxsim-Token", "0123456789abcdef0123456789abcdeF"}}, "close client", 403, ""},
      {"POST", "/steps", {{"X-Qxsim-Token", std::string(kToken) + "0"}}, "close client", 403, ""},
      {"POST", "/steps?token=" + std::string(kToken), {}, "close client", 403, ""},
      {"GET", "/story?token=" + std::string(kToken), {}, "", 403, ""},
      {"POST", "/steps", {{"X-Qxsim-Token", kToken}, {"Host", "quorvix.example:" + own}}, "close client", 403, ""},
      {"POST", "/steps", {{"X-Qxsim-Token", kToken}, {"Host", "127.0.0.1:" + other}}, "close client", 403, ""},
      {"POST", "/steps", {{"X-Qxsim-Token", kToken}, {"Host", "127.0.0.1"}}, "close client", 403, ""},
      {"POST", "/rewind?to=0", {}, "", 403, ""},
      {"POST", "/steps", Own(), "note " + std::string(kMaxRequestBody - 4, 'x'), 413, "64 KiB"},
      {"POST", "/steps", Own(), "fly away", 400, "line 2: unknown verb \"fly\""},
      {"POST", "/steps", Own(), "file put \\f x\n", 200, ""},
      {"POST", "/steps", Own(), "file get \\f to ../outside.txt", 400, "line 3: \"" + (root_ / "outside.txt").string() + "\" is outside"},
      {"POST", "/steps", Own(), std::string("\xFF\xFE", 2), 400, "line 3: a step is UTF-8 text"},
      {"POST", "/rewind?to=ten", Own(), "", 400, "to=N"},
      {"POST", "/rewind?to=9", Own(), "", 400, "from 0 to 2"},
      {"POST", "/rewind?to=2&to=1", Own(), "", 400, "to=N"},
      {"GET", "/elsewhere", Own(), "", 404, "not found"},
      {"GET", "/registry?key=HKEY_CURRENT_USER\\Nowhere", Own(), "", 404, "there is no key"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method + " " + c.path.substr(0, 40) + " " + c.body.substr(0, 40));
    const Reply reply = Send(c.method, c.path, c.headers, c.body);
    EXPECT_EQ(reply.status, c.status) << reply.body;
    EXPECT_NE(reply.body.find(c.says), std::string::npos) << reply.body;
  }
  EXPECT_EQ(Send("GET", "/scenario", Own()).body, before.body + "file put \\f x\n");
  EXPECT_FALSE(fs::exists(root_ / "outside.txt"));
}

TEST_F(ServeHttp, ThePageAndTheStoryAnswerTheirOwn) {
  const Reply page = Send("GET", "/?token=" + std::string(kToken), {});
  EXPECT_EQ(page.status, 200);
  EXPECT_NE(page.body.find("Download scenario"), std::string::npos);
  EXPECT_NE(page.body.find("function step("), std::string::npos) << "the script is in the page";
  EXPECT_EQ(page.body.find("/*SCRIPT*/"), std::string::npos);

  EXPECT_EQ(Send("GET", "/story", {{"X-Qxsim-Token", kToken}, {"Host", "localhost:" + std::to_string(port_)}}).status,
            200);
  // A body of exactly the limit is taken.
  const Reply longest = Send("POST", "/steps", Own(), "note " + std::string(kMaxRequestBody - 5, 'x'));
  EXPECT_EQ(longest.status, 200) << longest.body.substr(0, 200);
  const Reply step = Send("POST", "/steps", Own(), "advance 1 tick");
  EXPECT_EQ(step.status, 200);
  EXPECT_NE(step.body.find("\"position\":3"), std::string::npos) << step.body.substr(0, 200);
  EXPECT_NE(step.body.find("\"screen\":\"<svg"), std::string::npos);
  EXPECT_NE(step.body.find("[story.qxs:3 t=0.000s] advance 1 tick"), std::string::npos);

  const Reply back = Send("POST", "/rewind?to=1", Own());
  EXPECT_EQ(back.status, 200);
  EXPECT_NE(back.body.find("\"position\":1,\"count\":3"), std::string::npos) << back.body.substr(0, 200);
  EXPECT_EQ(Send("GET", "/scenario", Own()).body, "start client\n");
  const Reply registry = Send("GET", "/registry?key=hkcu\\software\\brennic inc\\quorvix", Own());
  EXPECT_EQ(registry.status, 200);
  EXPECT_TRUE(registry.body.starts_with("[HKEY_CURRENT_USER\\Software\\Brennic Inc\\Quorvix]\n")) << registry.body;
}

TEST(ServeToken, TokensAreFreshAndComparedWhole) {
  const std::string token = NewToken();
  EXPECT_EQ(token.size(), 32u);
  EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(NewToken(), token);
  struct Case {
    std::string given, token;
    bool same;
  };
  const Case cases[] = {
      {"abc", "abc", true}, {"abd", "abc", false}, {"ab", "abc", false},
      {"abcd", "abc", false}, {"", "", false}, {std::string("ab\0", 3), "ab", false},
  };
  for (const Case& c : cases) EXPECT_EQ(SameToken(c.given, c.token), c.same) << c.given << " / " << c.token;
}

}  // namespace
}  // namespace qx::qxsim
