// Sources on web servers, FTP servers and object stores: real servers
// (nginx, Python's http.server, a proxy that breaks a connection, pyftpdlib
// and an object store that checks signatures) started by
// tests/web_servers.sh in the
// test's own folder, or, where TSA_TEST_SERVERS names a folder in which
// they already run (the Windows build under Wine), those.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "engine/source/url_bytes.h"
#include "test_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#endif

namespace tsa {
namespace {

using testing::closingLine;
using testing::progressLine;
using testing::readFile;
using testing::ToolRun;
using testing::writeText;

const std::string banner = "Corvane Test Set Assembler (10-24-2014)\n\n";
constexpr std::size_t cifFrame = 352 * 288 * 3 / 2;

// Frame `frame` of CIF clip `clip` (or of frames of `frameBytes`): every
// byte tells both apart.
std::string cifFrameOf(int clip, int frame, std::size_t frameBytes = cifFrame) {
  return {std::string(frameBytes, static_cast<char>(clip * 32 + frame))};
}

std::string cifClip(int clip, int frames, std::size_t frameBytes = cifFrame) {
  std::string bytes;
  for (int frame = 0; frame < frames; ++frame) {
    bytes += cifFrameOf(clip, frame, frameBytes);
  }
  return bytes;
}

class HttpSources : public testing::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    if (const char* given = std::getenv("TSA_TEST_SERVERS"); given != nullptr && *given != '\0') {
      servers_ = given;
    } else {
#ifdef _WIN32
      GTEST_SKIP() << "no web servers: the Windows build is given them in TSA_TEST_SERVERS";
#else
      if (std::system("command -v nginx >/dev/null && command -v python3 >/dev/null") != 0) {
        GTEST_SKIP() << "nginx and python3 are needed to serve the test media";
      }
      servers_ = dir_ + "/servers";
      started_ = true;
      ASSERT_EQ(std::system(("bash " TSA_SOURCE_DIR "/tests/web_servers.sh start " + servers_ +
                             " >/dev/null 2>&1")
                                .c_str()),
                0);
#endif
    }
    std::istringstream env(readFile(servers_ + "/servers.env"));
    for (std::string line; std::getline(env, line);) {
      const std::size_t equals = line.find('=');
      urls_[line.substr(0, equals)] = line.substr(equals + 1);
    }
    // Files of this test's own, so that runs side by side do not meet.
    prefix_ = std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }

  void TearDown() override {
#ifndef _WIN32
    if (started_) {
      (void)std::system(
          ("bash " TSA_SOURCE_DIR "/tests/web_servers.sh stop " + servers_ + " >/dev/null 2>&1")
              .c_str());
    }
#endif
    ScratchDirTest::TearDown();
  }

  // Serves `bytes` as `name` (the test's own prefix added); returns the
  // name as served.
  std::string serve(const std::string& name, const std::string& bytes) {
    std::string served = prefix_ + "_" + name;
    writeText(servers_ + "/www/" + served, bytes);
    return served;
  }

  // Serves `bytes` as `name` (the test's own prefix added) in `bucket`, a
  // folder of the served ones; returns the object's key.
  std::string serveIn(const std::string& bucket, const std::string& name,
                      const std::string& bytes) {
    std::filesystem::create_directories(servers_ + "/www/" + bucket);
    std::string key = prefix_ + "_" + name;
    writeText(servers_ + "/www/" + bucket + "/" + key, bytes);
    return key;
  }

  [[nodiscard]] std::string url(const std::string& server, const std::string& path) const {
    return urls_.at(server) + "/" + path;
  }

  // The lines of the server log `log` (in the servers' folder) that hold `text`.
  [[nodiscard]] std::vector<std::string> logLines(const std::string& log,
                                                  const std::string& text) const {
    std::vector<std::string> lines;
    std::istringstream all(readFile(servers_ + "/" + log));
    for (std::string line; std::getline(all, line);) {
      if (line.find(text) != std::string::npos) {
        lines.push_back(line);
      }
    }
    return lines;
  }

  // The FTP server's URL with the test user's password in it.
  [[nodiscard]] std::string ftpWithPassword(const std::string& password) const {
    return "ftp://tester:" + password + "@" + urls_.at("FTP").substr(6);
  }

  // The connection of every request for `path` in nginx's log.
  [[nodiscard]] std::vector<std::string> connectionsOf(const std::string& path) const {
    std::vector<std::string> connections;
    for (const std::string& line : logLines("access.log", path)) {
      connections.push_back(line.substr(0, line.find(' ')));
    }
    return connections;
  }

  ToolRun run(const std::vector<std::string>& args,
              const std::vector<std::string>& environment = {}) {
    return testing::runTool(dir_, args, "", environment);
  }

  std::string servers_;
  bool started_ = false;
  std::map<std::string, std::string> urls_;
  std::string prefix_;
};

// `text` as a regex that matches it alone.
std::string escaped(const std::string& text) {
  return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

const std::string byNames = "Frames: 352x288 yuv420p, as the source names state\n";

void expectRun(const ToolRun& run, int status, const std::string& out) {
  EXPECT_EQ(run.status, status) << run.out;
  EXPECT_EQ(run.out.substr(0, out.size()), out);
}

TEST_F(HttpSources, RangesOfTwoUrlsInListOrderOnOneConnection) {
  const std::string raw = serve("clip_cif.yuv", cifClip(1, 6));
  std::string y4m = "YUV4MPEG2 W352 H288 F30:1 Ip A1:1 C420jpeg\n";
  for (int frame = 0; frame < 4; ++frame) {
    y4m += "FRAME\n" + cifFrameOf(2, frame);
  }
  const std::string y4mName = serve("clip.y4m", y4m);
  const std::string a = url("HTTP", raw);
  const std::string b = url("HTTP", y4mName);
  writeText(path("list.txt"), a + " 4 2\n\"" + b + "\" 1 2\n" + a + " 0 1\n");
  const ToolRun copied = run({"list.txt", "out.yuv"});
  expectRun(copied, 0,
            banner + progressLine("  0", a, "  20") + progressLine(" 50", a, "  40") +
                closingLine(a) + progressLine("  0", b, "  60") + progressLine(" 50", b, "  80") +
                closingLine(b) + progressLine("  0", a, " 100") + closingLine(a));
  EXPECT_TRUE(readFile(path("out.yuv")) == cifFrameOf(1, 4) + cifFrameOf(1, 5) + cifFrameOf(2, 1) +
                                               cifFrameOf(2, 2) + cifFrameOf(1, 0));
  // One request for each URL in the pre-scan, one range a splice; one
  // connection for all of them.
  EXPECT_EQ(connectionsOf(raw).size(), 3U);
  EXPECT_EQ(connectionsOf(y4mName).size(), 2U);
  std::vector<std::string> all = connectionsOf(raw);
  const std::vector<std::string> other = connectionsOf(y4mName);
  all.insert(all.end(), other.begin(), other.end());
  EXPECT_EQ(std::set<std::string>(all.begin(), all.end()).size(), 1U);
}

TEST_F(HttpSources, AHundredOneFrameSplicesOnOneConnection) {
  const std::string clip = serve("many_cif.yuv", cifClip(3, 7));
  std::string list;
  std::string expected;
  for (int i = 0; i < 100; ++i) {
    list += url("HTTP", clip) + " " + std::to_string(i * 3 % 7) + " 1\n";
    expected += cifFrameOf(3, i * 3 % 7);
  }
  writeText(path("list.txt"), list);
  EXPECT_EQ(run({"--quiet", "list.txt", "out.yuv"}).status, 0);
  EXPECT_TRUE(readFile(path("out.yuv")) == expected);
  const std::vector<std::string> connections = connectionsOf(clip);
  EXPECT_EQ(connections.size(), 101U);
  EXPECT_EQ(std::set<std::string>(connections.begin(), connections.end()).size(), 1U);
}

// A run loads libcurl when it meets its first URL, and libcrypto when it
// takes its first checksum: a run from local files maps neither, and
// stays as small as it was before sources on servers. The dynamic
// loader names every library it loads (LD_DEBUG=files).
TEST_F(HttpSources, OnlyARunThatNeedsTheNetworkLoadsItsLibraries) {
#ifdef _WIN32
  GTEST_SKIP() << "the Windows build takes its libraries from the system";
#else
  const std::string clip = serve("local_cif.yuv", cifClip(6, 2));
  writeText(path("local_cif.yuv"), cifClip(6, 2));
  const struct {
    std::vector<std::string> args;
    std::string source;
    bool curl, crypto;
  } cases[] = {
      {{"--quiet", "--yes", "list.txt", "out.yuv"}, "local_cif.yuv", false, false},
      {{"--quiet", "--yes", "--framemd5=out.md5", "list.txt", "out.yuv"},
       "local_cif.yuv",
       false,
       true},
      // libcurl brings libcrypto with it.
      {{"--quiet", "--yes", "list.txt", "out.yuv"}, url("HTTP", clip), true, true},
  };
  for (const auto& c : cases) {
    writeText(path("list.txt"), c.source + " 1 1\n");
    const ToolRun copied = run(c.args, {"LD_DEBUG=files"});
    EXPECT_EQ(copied.status, 0) << copied.err;
    EXPECT_TRUE(readFile(path("out.yuv")) == cifFrameOf(6, 1));
    EXPECT_EQ(copied.err.find("file=libcurl") != std::string::npos, c.curl) << c.source;
    EXPECT_EQ(copied.err.find("file=libcrypto") != std::string::npos, c.crypto) << c.source;
  }
#endif
}

TEST_F(HttpSources, UrlsThatCannotBeHadAreRefusedBeforeTheCopy) {
  const std::string clip = serve("here_cif.yuv", cifClip(1, 3));
  struct Case {
    std::string source;
    std::vector<std::string> environment;
    std::string reason;  // a regex
  };
  const std::string tls = url("HTTPS", clip);
  // A page is never video: a redirect to a login page, a missing clip
  // answered with a page and 200.
  const std::string page = "the server answers with a web page, ";
#ifdef _WIN32
  // WinHTTP's own words; it verifies against the system's store only.
  const std::vector<Case> cases = {
      {url("HTTP", prefix_ + "_missing.yuv"), {}, "404 Not Found"},
      {url("HTTP", "login/" + clip), {}, page + "text/html"},
      {url("HTTP", "soft404/" + prefix_ + "_missing.yuv"), {}, page + "application/xhtml\\+xml"},
      {"http://127.0.0.1:9/a.yuv", {}, ".+"},
      {"http://no-such-host.invalid/a.yuv", {}, ".+"},
  };
#else
  const std::vector<Case> cases = {
      {url("HTTP", prefix_ + "_missing.yuv"), {}, "404 Not Found"},
      {url("HTTP", "login/" + clip), {}, page + "text/html"},
      {url("HTTP", "soft404/" + prefix_ + "_missing.yuv"), {}, page + "application/xhtml\\+xml"},
      {"http://127.0.0.1:9/a.yuv", {}, "Failed to connect to 127.0.0.1 port 9 .*"},
      {"http://no-such-host.invalid/a.yuv", {}, "Could not resolve host: no-such-host.invalid"},
      // The test's authority is not one the system trusts; a store that
      // cannot be read is named.
      {tls, {}, "SSL certificate problem: .*"},
      {tls,
       {"CURL_CA_BUNDLE=" + dir_ + "/no-such.crt"},
       escaped("no trusted certificates in \"" + dir_ + "/no-such.crt\"")},
  };
#endif
  for (const Case& c : cases) {
    writeText(path("list.txt"), c.source + " 0 1\n");
    writeText(path("out.yuv"), "an older set");
    const ToolRun refused = run({"--yes", "list.txt", "out.yuv"}, c.environment);
    EXPECT_EQ(refused.status, 9) << c.source << refused.out;
    EXPECT_EQ(readFile(path("out.yuv")), "an older set");
    const std::regex message(escaped(banner + "Input file \"" + c.source + "\" not found (") +
                             c.reason + escaped("). Aborting.\n"));
    EXPECT_TRUE(std::regex_match(refused.out, message)) << refused.out;
    // The check refuses it the same way.
    const ToolRun checked = run({"--check", "list.txt", "out.yuv"}, c.environment);
    EXPECT_EQ(checked.status, 9);
    EXPECT_TRUE(std::regex_match(checked.out, message)) << checked.out;
  }
  // Through the proxy http_proxy names, a host no resolver knows is had.
  const std::string port = urls_.at("HTTP").substr(urls_.at("HTTP").rfind(':'));
  writeText(path("list.txt"), "http://media.invalid" + port + "/" + clip + " 2 1\n");
  const ToolRun proxied =
      run({"--quiet", "--yes", "list.txt", "out.yuv"}, {"http_proxy=" + urls_.at("PROXY")});
  EXPECT_EQ(proxied.status, 0) << proxied.out;
  EXPECT_TRUE(readFile(path("out.yuv")) == cifFrameOf(1, 2));
  // The same server with the test's authority named is trusted, by the
  // name its certificate gives (Schannel, on Windows, matches no address).
  const std::string byName = std::regex_replace(tls, std::regex(R"(127\.0\.0\.1)"), "localhost");
  writeText(path("list.txt"), byName + " 1 1\n");
  const ToolRun trusted =
      run({"--quiet", "--yes", "list.txt", "out.yuv"}, {"CURL_CA_BUNDLE=" + servers_ + "/ca.crt"});
  EXPECT_EQ(trusted.status, 0) << trusted.out;
  EXPECT_TRUE(readFile(path("out.yuv")) == cifFrameOf(1, 1));
}

TEST_F(HttpSources, SecretsInTheUrlAreUsedButNeverShown) {
  const std::string clip = serve("secret_cif.yuv", cifClip(4, 3));
  const std::string base = urls_.at("HTTP");
  const std::string withSecrets = "http://tester:s3cret@" + base.substr(7) + "/private/" + clip +
                                  "?X-Amz-Signature=abc123&expires=9";
  const std::string shown = base + "/private/" + clip + "?\xE2\x80\xA6";
  const std::string moved = url("HTTP", "moved/" + clip);
  writeText(path("list.txt"), withSecrets + " 2 1\n" + moved + " 0 1\n");
  const ToolRun copied = run({"list.txt", "out.yuv"});
  expectRun(copied, 0,
            banner + byNames + progressLine("  0", shown, "  50") + closingLine(shown) +
                progressLine("  0", moved, " 100") + closingLine(moved));
  EXPECT_EQ(copied.out.find("s3cret"), std::string::npos);
  EXPECT_EQ(copied.out.find("abc123"), std::string::npos);
  EXPECT_TRUE(readFile(path("out.yuv")) == cifFrameOf(4, 2) + cifFrameOf(4, 0));
  // Without the password the server says no, and the message keeps it out.
  writeText(path("list.txt"),
            "http://tester:wrong@" + base.substr(7) + "/private/" + clip + "?sig=1 0 1\n");
  expectRun(run({"--yes", "list.txt", "out.yuv"}), 9,
            banner + "Input file \"" + base + "/private/" + clip +
                "?\xE2\x80\xA6\" not found (401 Unauthorized). Aborting.\n");
}

// Objects in a store that checks every signature: the credentials, region
// and endpoint as the AWS tools find them; a range a splice, signed.
TEST_F(HttpSources, ObjectsAreReadWithTheCredentialsTheAwsToolsFind) {
  const std::string key = serveIn("media", "signed_cif.yuv", cifClip(10, 5));
  const std::string openKey = serveIn("open", "public_cif.yuv", cifClip(11, 3));
  const std::string home = "HOME=" + dir_;
  const std::string store = "AWS_ENDPOINT_URL=" + urls_.at("STORE");
  writeText(path("credentials"),
            "[default]\naws_access_key_id = AKIDTEST\n"
            "aws_secret_access_key = secret/key+1\n");
  writeText(path("config"), "[default]\nregion = eu-west-3\n");
  std::filesystem::create_directory(path(".aws"));
  writeText(path(".aws/credentials"),
            "[lab]\naws_access_key_id=ASIATEMP\n"
            "aws_secret_access_key=temp-secret\n"
            "aws_session_token=the-token\nregion=us-west-2\n");
  writeText(path(".aws/config"), "[profile lab]\nregion = eu-west-3\n");
  struct Row {
    const char* what;
    std::vector<std::string> environment;
    std::string bucket;
    const char* signer;   // in the store's log: the key, or "-" for none
    std::string refusal;  // why the run is refused, status 9, where it is
  };
  const std::vector<Row> rows = {
      {"keys in the variables",
       {"AWS_ACCESS_KEY_ID=AKIDTEST", "AWS_SECRET_ACCESS_KEY=secret/key+1", "AWS_REGION=eu-west-3"},
       "media",
       "AKIDTEST",
       ""},
      {"a session token in the variables",
       {"AWS_ACCESS_KEY_ID=ASIATEMP", "AWS_SECRET_ACCESS_KEY=temp-secret",
        "AWS_SESSION_TOKEN=the-token", "AWS_DEFAULT_REGION=eu-west-3"},
       "media",
       "ASIATEMP",
       ""},
      {"a profile of ~/.aws, its region from the config file",
       {"AWS_PROFILE=lab"},
       "media",
       "ASIATEMP",
       ""},
      {"the default profile of the files the variables name",
       {"AWS_SHARED_CREDENTIALS_FILE=" + path("credentials"), "AWS_CONFIG_FILE=" + path("config")},
       "media",
       "AKIDTEST",
       ""},
      {"a public bucket and no credentials", {}, "open", "-", ""},
      {"a wrong secret",
       {"AWS_ACCESS_KEY_ID=AKIDTEST", "AWS_SECRET_ACCESS_KEY=not-the-secret",
        "AWS_REGION=eu-west-3"},
       "media",
       "",
       "not found (403 SignatureDoesNotMatch)"},
      {"no credentials for a private bucket", {}, "media", "", "not found (403 AccessDenied)"},
      {"a profile that is not set up",
       {"AWS_PROFILE=nobody"},
       "media",
       "",
       "cannot be read (the AWS profile \"nobody\" is not set up)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string object = row.bucket == "open" ? openKey : key;
    const std::string source = "s3://" + row.bucket + "/" + object;
    writeText(path("list.txt"), source + " 2 1\n" + source + " 0 1\n");
    std::vector<std::string> environment = row.environment;
    environment.insert(environment.end(), {home, store});
    const std::size_t before = logLines("store.log", object).size();
    const ToolRun done = run({"--yes", "list.txt", "out.yuv"}, environment);
    // No secret reaches the console.
    for (const char* secret : {"secret/key+1", "temp-secret", "the-token", "not-the-secret"}) {
      EXPECT_EQ(done.out.find(secret), std::string::npos) << secret;
    }
    if (!row.refusal.empty()) {
      expectRun(done, 9, banner + "Input file \"" + source + "\" " + row.refusal + ". Aborting.\n");
      continue;
    }
    expectRun(done, 0,
              banner + byNames + progressLine("  0", source, "  50") + closingLine(source) +
                  progressLine("  0", source, " 100") + closingLine(source));
    const int clip = row.bucket == "open" ? 11 : 10;
    EXPECT_TRUE(readFile(path("out.yuv")) == cifFrameOf(clip, 2) + cifFrameOf(clip, 0));
    // The pre-scan's request and one range a splice, each signed.
    const std::vector<std::string> requests = logLines("store.log", object);
    ASSERT_EQ(requests.size(), before + 3);
    EXPECT_TRUE(requests[before + 1].ends_with(" 206 \"bytes=" + std::to_string(2 * cifFrame) +
                                               "-" + std::to_string(3 * cifFrame - 1) + "\" " +
                                               row.signer))
        << requests[before + 1];
  }
}

// An FTP server: the size and date asked for, a splice one REST and RETR;
// the password used, never shown.
TEST_F(HttpSources, FtpSplicesAreARestAndARetrEach) {
  if (urls_.at("FTP").empty()) {
    GTEST_SKIP() << "pyftpdlib is needed to serve the test media by FTP";
  }
  const std::string clip = serve("ftp_cif.yuv", cifClip(12, 6));
  const std::string source = ftpWithPassword("s3cret") + "/" + clip;
  const std::string shown = urls_.at("FTP") + "/" + clip;
  writeText(path("list.txt"), source + " 4 2\n" + source + " 1 1\n");
  const ToolRun copied = run({"--yes", "list.txt", "out.yuv"});
  expectRun(copied, 0,
            banner + byNames + progressLine("  0", shown, "  33") +
                progressLine(" 50", shown, "  67") + closingLine(shown) +
                progressLine("  0", shown, " 100") + closingLine(shown));
  EXPECT_EQ(copied.out.find("s3cret"), std::string::npos);
  EXPECT_TRUE(readFile(path("out.yuv")) ==
              cifFrameOf(12, 4) + cifFrameOf(12, 5) + cifFrameOf(12, 1));
  for (const std::size_t frame : {4, 1}) {
    EXPECT_EQ(logLines("ftp.log", "<- REST " + std::to_string(frame * cifFrame)).size(), 1U)
        << frame;
  }
  EXPECT_EQ(logLines("ftp.log", "<- RETR " + clip).size(), 3U);
  writeText(path("list.txt"), ftpWithPassword("wrong") + "/" + clip + " 0 1\n");
  const ToolRun refused = run({"--yes", "list.txt", "out.yuv"});
  expectRun(refused, 9,
            banner + "Input file \"" + shown + "\" not found (Access denied: 530). Aborting.\n");
}

TEST_F(HttpSources, ACheckKnowsAUrlsLengthAndAServerWithoutRanges) {
  const std::string clip = serve("short_cif.yuv", cifClip(5, 4));
  const std::string ranged = url("HTTP", clip);
  const std::string plain = url("PLAIN", clip);
  writeText(path("list.txt"), ranged + " 1 2\n" + plain + " 2 2\n" + ranged + " 3 2\n");
  expectRun(
      run({"--check", "list.txt", "out.yuv"}), 6,
      banner + byNames + "Error: line 3: \"" + ranged + "\" holds 4 frames, not frames 3 to 4\n");
  // A server without ranges is read from its start, frames before the
  // first dropped: the bytes are right.
  writeText(path("list.txt"), plain + " 2 2\n" + plain + " 0 1\n");
  const ToolRun copied = run({"--quiet", "list.txt", "out.yuv"});
  EXPECT_EQ(copied.status, 0) << copied.out;
  EXPECT_TRUE(readFile(path("out.yuv")) == cifFrameOf(5, 2) + cifFrameOf(5, 3) + cifFrameOf(5, 0));
  expectRun(run({"--check", "list.txt", "out.yuv"}), 0,
            banner + byNames +
                "Checked 2 splices: 3 frames of 352x288 yuv420p, a raw output of 456192 bytes; "
                "read from its start: \"" +
                plain + "\" (the server serves no byte ranges)\n");
}

TEST_F(HttpSources, ABrokenConnectionIsTakenUpWhereItBroke) {
  const std::string clip = serve("cut_cif.yuv", cifClip(6, 8));
  // The proxy's first connection carries the pre-scan's answer and then
  // breaks in the middle of the copy's range.
  writeText(servers_ + "/cut", std::to_string(cifFrame * 3 + 12345));
  writeText(path("list.txt"), url("PROXY", clip) + " 1 6\n");
  const ToolRun copied = run({"--quiet", "list.txt", "out.yuv"});
  EXPECT_EQ(copied.status, 0) << copied.out;
  EXPECT_TRUE(readFile(path("out.yuv")) == cifClip(6, 8).substr(cifFrame, 6 * cifFrame));
  // The range was asked for again, on a new connection, from where it broke.
  const std::vector<std::string> connections = connectionsOf(clip);
  EXPECT_EQ(connections.size(), 3U);
  EXPECT_EQ(std::set<std::string>(connections.begin(), connections.end()).size(), 2U);
  std::filesystem::remove(servers_ + "/cut");
}

// A large splice in parts over several connections at once: the bytes in
// order, a part whose connection breaks taken up where it broke, and a stop
// while parts are in flight leaving whole frames only.
TEST_F(HttpSources, ALargeSpliceComesInPartsOverSeveralConnections) {
  constexpr int frames = 120;  // three parts of 40 frames, one a connection
  const std::string bytes = cifClip(13, frames);
  const std::string clip = serve("parts_cif.yuv", bytes);
  // From a server that paces each connection, as a far one does: on the
  // loopback a part could come whole before the next one is asked for,
  // and leave its connection free for it.
  const std::string paced = url("HTTP", "paced/" + clip);
  writeText(path("list.txt"), paced + " 0 120\n" + paced + " 7 1\n");
  ToolRun copied = run({"--quiet", "--connections=3", "list.txt", "out.yuv"});
  EXPECT_EQ(copied.status, 0) << copied.out;
  EXPECT_TRUE(readFile(path("out.yuv")) == bytes + cifFrameOf(13, 7));
  // The pre-scan's request, three parts on three connections, and the
  // one-frame splice as one range.
  const std::vector<std::string> requests = logLines("access.log", clip);
  ASSERT_EQ(requests.size(), 5U);
  std::set<std::string> partConnections;
  for (std::size_t part = 0; part < 3; ++part) {
    const std::size_t first = part * 40 * cifFrame;
    const std::size_t last = first + 40 * cifFrame - 1;
    const std::vector<std::string> asked = logLines(
        "access.log", "\"bytes=" + std::to_string(first) + "-" + std::to_string(last) + "\"");
    ASSERT_EQ(asked.size(), 1U) << part;
    partConnections.insert(asked[0].substr(0, asked[0].find(' ')));
  }
  EXPECT_EQ(partConnections.size(), 3U);

  // The first connection breaks three frames into the first part.
  writeText(path("list.txt"), url("PROXY", clip) + " 0 120\n");
  writeText(servers_ + "/cut", std::to_string(8192 + 600 + 3 * cifFrame + 777));
  copied = run({"--quiet", "--yes", "--connections=3", "list.txt", "out.yuv"});
  std::filesystem::remove(servers_ + "/cut");
  EXPECT_EQ(copied.status, 0) << copied.out;
  EXPECT_TRUE(readFile(path("out.yuv")) == bytes);

  // The next splice of the same source is asked for while this one's
  // parts land: 5 frames of 1080p come in parts of 2, 2 and 1 frames, and
  // the connection of the short one takes the next splice's first part.
  constexpr std::size_t hdFrame = 1920 * 1080 * 3 / 2;
  const std::string hdBytes = cifClip(3, 9, hdFrame);
  const std::string hd = serve("next_1920x1080.yuv", hdBytes);
  writeText(path("list.txt"),
            url("HTTP", "paced/" + hd) + " 0 5\n" + url("HTTP", "paced/" + hd) + " 5 4\n");
  copied = run({"--quiet", "--yes", "--connections=3", "list.txt", "out.yuv"});
  EXPECT_EQ(copied.status, 0) << copied.out;
  EXPECT_TRUE(readFile(path("out.yuv")) == hdBytes);
  double firstEnd = 0;         // of the first splice's parts, the last to end
  double secondStart = 1e300;  // of the second's, the first to start
  for (const std::string& line : logLines("access.log", hd)) {
    std::istringstream fields(line.substr(line.find("bytes=") + 6));
    std::size_t from = 0;
    double ended = 0;
    double took = 0;
    fields >> from;
    fields.ignore(64, '"') >> ended >> took;
    if (from >= 5 * hdFrame) {
      secondStart = std::min(secondStart, ended - took);
    } else if (from != 0) {  // not the probe's range, nor the first part's
      firstEnd = std::max(firstEnd, ended);
    }
  }
  EXPECT_LT(secondStart, firstEnd - 0.2);
  const std::vector<std::string> hdConnections = connectionsOf(hd);
  EXPECT_EQ(std::set<std::string>(hdConnections.begin(), hdConnections.end()).size(), 3U);
}

// The parts a range is fetched in: whole frames, at most 16 MiB a part,
// a part for each connection in each of the fewest rounds; a frame over
// 16 MiB in pieces.
TEST(UrlParts, ARangeIsCutIntoAPartAConnectionInTheFewestRounds) {
  constexpr std::int64_t hd = std::int64_t{1920} * 1080 * 3 / 2;
  constexpr std::int64_t cif = std::int64_t{352} * 288 * 3 / 2;
  constexpr std::int64_t uhd10 = std::int64_t{3840} * 2160 * 3;
  struct Row {
    std::int64_t frame;
    std::int64_t frames;
    int connections;
    std::int64_t unit;
    std::int64_t parts;
  };
  for (const Row& row : {
           Row{hd, 10, 4, hd, 4},              // 2, 3, 2 and 3 frames: one round
           Row{hd, 2, 4, hd, 2},               // fewer frames than connections
           Row{cif, 120, 3, cif, 3},           // 40 frames each
           Row{cif, 1000, 4, cif, 12},         // 110 frames fit 16 MiB: three rounds
           Row{uhd10, 60, 4, uhd10 / 2, 120},  // 24.9 MB frames in two pieces
           Row{hd, 200, 32, hd, 64},           // 5 frames fit 16 MiB: two rounds
       }) {
    const UrlParts::Cut cut = partsFor(row.frame, row.frame * row.frames, row.connections);
    EXPECT_EQ(cut.unitBytes, row.unit) << row.frame << " x " << row.frames;
    EXPECT_EQ(cut.count, row.parts) << row.frame << " x " << row.frames;
  }
}

#ifndef _WIN32
// A stop while a stalled server holds the one transfer, or one of three
// parts while the others, and the next splice's, come whole: the output
// keeps whole frames only.
TEST_F(HttpSources, AStopEndsAWaitForAStalledServer) {
  for (const int frames : {8, 120}) {
    SCOPED_TRACE(frames);
    const std::string bytes = cifClip(9, frames);
    const std::string clip = serve("stall_" + std::to_string(frames) + "_cif.yuv", bytes);
    // The proxy's first connection carries the pre-scan's answer and two
    // frames of the copy's range, then sends nothing more.
    writeText(servers_ + "/cut", std::to_string(8192 + 600 + 2 * cifFrame + 1000) + " stall");
    const std::string source = url("PROXY", clip);
    writeText(path("list.txt"),
              frames == 8 ? source + " 0 6\n" : source + " 0 59\n" + source + " 59 59\n");
    testing::ToolProcess tool(dir_, {"--yes", "--connections=3", "list.txt", "out.yuv"}, "");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    tool.sendSignal(SIGINT);
    const ToolRun stopped = tool.finish();
    std::filesystem::remove(servers_ + "/cut");
    EXPECT_EQ(stopped.signal, SIGINT) << stopped.out;
    EXPECT_TRUE(stopped.out.ends_with("Interrupted: the output keeps 2 whole frames\n"))
        << stopped.out;
    EXPECT_TRUE(readFile(path("out.yuv")) == bytes.substr(0, 2 * cifFrame));
  }
}

// A source replaced while the run goes on, on a web server, in an object
// store and on an FTP server: the run ends at the splice that would read
// the new version, before any of its frames.
TEST_F(HttpSources, ASourceReplacedOnTheServerEndsTheRunWithNoFrameOfTheNewOne) {
  struct Row {
    const char* server;
    std::string folder;  // where the server serves the file from
    std::string source;  // the name the list gives
    std::string shown;
    std::vector<std::string> environment;
  };
  const std::string clip = serveIn("media", "live_cif.yuv", cifClip(7, 6));
  const std::string onStore = "s3://media/" + clip;
  std::vector<Row> rows = {
      {"HTTP", "media", url("HTTP", "media/" + clip), url("HTTP", "media/" + clip), {}},
      {"STORE",
       "media",
       onStore,
       onStore,
       {"AWS_ENDPOINT_URL=" + urls_.at("STORE"), "AWS_ACCESS_KEY_ID=AKIDTEST",
        "AWS_SECRET_ACCESS_KEY=secret/key+1", "AWS_REGION=eu-west-3", "HOME=" + dir_}},
  };
  if (!urls_.at("FTP").empty()) {
    rows.push_back({"FTP",
                    "media",
                    ftpWithPassword("s3cret") + "/media/" + clip,
                    urls_.at("FTP") + "/media/" + clip,
                    {}});
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(row.server);
    const std::string file = servers_ + "/www/" + row.folder + "/" + clip;
    writeText(file, cifClip(7, 6));
    writeText(path("list.txt"), row.source + " 0 2\n" + row.source + " 2 2\n");
    // The output is a pipe the test drains, so the run cannot reach the
    // second splice before the file is replaced.
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    testing::ToolProcess tool(dir_, {"list.txt", "/dev/fd/9"}, "y\n", pipeFds[1], 9,
                              row.environment);
    ::close(pipeFds[1]);
    std::string received;
    char chunk[65536];
    bool replaced = false;
    for (ssize_t got; (got = ::read(pipeFds[0], chunk, sizeof chunk)) > 0;) {
      received.append(chunk, static_cast<std::size_t>(got));
      if (!replaced && received.size() >= cifFrame) {
        // Another version, one with another date (and so another ETag).
        writeText(file + ".new", cifClip(8, 6));
        std::filesystem::last_write_time(
            file + ".new", std::filesystem::last_write_time(file) + std::chrono::seconds(10));
        std::filesystem::rename(file + ".new", file);
        replaced = true;
      }
    }
    ::close(pipeFds[0]);
    const ToolRun stopped = tool.finish();
    EXPECT_EQ(stopped.status, 5) << stopped.out;
    EXPECT_TRUE(stopped.out.ends_with("Error: input file \"" + row.shown +
                                      "\" changed on the server since the run began\n"))
        << stopped.out;
    EXPECT_TRUE(received == cifFrameOf(7, 0) + cifFrameOf(7, 1));
  }
}
#endif

// Archives on a server: read by byte ranges where a member is stored as it
// is, decoded as they come where it is compressed; the first frames of a
// long compressed clip cost the first part of its archive, not all of it.
TEST_F(HttpSources, ArchivesAreReadInPartAsTheyAreOnDisk) {
  const std::string& archives = testing::testArchives();
  if (archives.empty()) {
    GTEST_SKIP() << "the archivers are needed to make the archives";
  }
  const auto share = [&](const std::string& name, const std::string& as = "") {
    return serve(as + name, readFile(archives + "/" + name));
  };
  const std::string clip = readFile(archives + "/clip_352x288.yuv");
  for (const std::string name : {"clip.7z", "clip.stored.zip", "clip.zip", "clip.tar.xz"}) {
    const std::string source = url("HTTP", share(name)) + "#clip_352x288.yuv";
    writeText(path("list.txt"), source + " 3 4\n" + source + " 10 2\n" + source + " 1 1\n");
    const ToolRun done = run({"--yes", "list.txt", "out.yuv"});
    EXPECT_EQ(done.status, 0) << name << done.out;
    EXPECT_TRUE(readFile(path("out.yuv")) == clip.substr(3 * cifFrame, 4 * cifFrame) +
                                                 clip.substr(10 * cifFrame, 2 * cifFrame) +
                                                 clip.substr(cifFrame, cifFrame))
        << name;
  }
  const std::string stored = share("clip.stored.zip", "again-");
  const std::string longClip = share("long_352x288.yuv.xz");
  const std::string long7z = share("long.7z");
  const std::string plain = serve("between_cif.yuv", cifClip(14, 2));
  // The second splice of the long clip goes on with the first one's
  // decoding, kept while a plain URL's splice came between: no request
  // starts from the archive's start again.
  writeText(path("list.txt"), url("HTTP", stored) + " 11 1\n" + url("HTTP", longClip) + " 0 2\n" +
                                  url("HTTP", plain) + " 1 1\n" + url("HTTP", longClip) + " 3 1\n" +
                                  url("HTTP", long7z) + " 0 1\n");
  const ToolRun done = run({"--yes", "list.txt", "out.yuv"});
  EXPECT_EQ(done.status, 0) << done.out;
  const std::string longFrames = readFile(archives + "/long_352x288.yuv");
  EXPECT_TRUE(readFile(path("out.yuv")) ==
              clip.substr(11 * cifFrame, cifFrame) + longFrames.substr(0, 2 * cifFrame) +
                  cifFrameOf(14, 1) + longFrames.substr(3 * cifFrame, cifFrame) +
                  longFrames.substr(0, cifFrame));
  std::size_t fromTheStart = 0;
  std::istringstream requests(readFile(servers_ + "/access.log"));
  for (std::string line; std::getline(requests, line);) {
    if (line.find(longClip) != std::string::npos && line.find("\"bytes=0-") != std::string::npos) {
      ++fromTheStart;
    }
  }
  // The pre-scan's look at the URL and at the archive, then the copy's.
  EXPECT_EQ(fromTheStart, 3U);
  // The bytes nginx sent of each (its log's last field), against its size.
  const auto sent = [&](const std::string& served) {
    std::int64_t bytes = 0;
    std::istringstream log(readFile(servers_ + "/access.log"));
    for (std::string line; std::getline(log, line);) {
      if (line.find(served) != std::string::npos) {
        bytes += std::stoll(line.substr(line.rfind(' ') + 1));
      }
    }
    return bytes;
  };
  const auto sizeOf = [&](const std::string& served) {
    return static_cast<std::int64_t>(readFile(servers_ + "/www/" + served).size());
  };
  EXPECT_LT(sent(stored), sizeOf(stored) / 3);
  EXPECT_LT(sent(longClip), sizeOf(longClip) / 3);
  // The one clip of a solid .7z, found by listing its members, not by
  // decoding past it.
  EXPECT_LT(sent(long7z), sizeOf(long7z) / 3);
}

}  // namespace
}  // namespace tsa
