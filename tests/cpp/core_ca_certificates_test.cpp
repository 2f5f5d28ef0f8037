#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "corvane_burn_watch/core/http/ca_certificates.hpp"

namespace fs = std::filesystem;
namespace http = corvane_burn_watch::http;
using http::CaCertificates;

namespace {

// A scratch folder with candidate bundles, and SSL_CERT_FILE / SSL_CERT_DIR
// cleared for the test and put back after it.
class CaCertificatesSearch : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"SSL_CERT_FILE", "SSL_CERT_DIR"}) {
      const char* value = getenv(name);
      saved_.push_back(value ? std::optional<std::string>(value) : std::nullopt);
      unsetenv(name);
    }
    folder_ =
        fs::temp_directory_path() / ("ca_search_" + std::to_string(getpid()) + "_" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override {
    const char* names[] = {"SSL_CERT_FILE", "SSL_CERT_DIR"};
    for (int i = 0; i < 2; ++i)
      saved_[i] ? setenv(names[i], saved_[i]->c_str(), 1) : unsetenv(names[i]);
    fs::remove_all(folder_);
  }
  std::string file(const std::string& name) {
    const auto path = folder_ / name;
    std::ofstream(path) << "certificates\n";
    return path.string();
  }
  std::string absent(const std::string& name) { return (folder_ / name).string(); }

  fs::path folder_;
  std::vector<std::optional<std::string>> saved_;
};

}  // namespace

TEST_F(CaCertificatesSearch, EachPlaceIsTriedInTurn) {
  const std::string debian = file("debian.crt"), fedora = file("fedora.crt");
  const std::string certifi = file("certifi.pem"), built_in = file("built_in.crt");
  // A folder where a distribution keeps a file is passed over.
  const std::vector<std::string> system = {absent("gone.crt"), folder_.string(), debian, fedora};

  EXPECT_EQ(http::find_ca_certificates(certifi, built_in, system),
            (CaCertificates{debian, false, "system"}));
  EXPECT_EQ(http::find_ca_certificates(certifi, built_in, {fedora}),
            (CaCertificates{fedora, false, "system"}));
  EXPECT_EQ(http::find_ca_certificates(certifi, built_in, {absent("gone.crt")}),
            (CaCertificates{certifi, false, "fallback"}));
  EXPECT_EQ(http::find_ca_certificates(absent("no_certifi.pem"), built_in, {}),
            (CaCertificates{built_in, false, "libcurl"}));
  EXPECT_EQ(http::find_ca_certificates("", folder_.string(), {}),
            (CaCertificates{folder_.string(), true, "libcurl"}));
  EXPECT_EQ(http::find_ca_certificates(absent("no_certifi.pem"), absent("none"), {absent("a")}),
            std::nullopt);
  EXPECT_NE(http::no_ca_certificates_message().find("SSL_CERT_FILE"), std::string::npos);
}

TEST_F(CaCertificatesSearch, TheEnvironmentComesFirstEvenNamingNothing) {
  const std::vector<std::string> system = {file("debian.crt")};
  const std::string named = absent("named.pem");
  setenv("SSL_CERT_DIR", folder_.c_str(), 1);
  EXPECT_EQ(http::find_ca_certificates("", "", system),
            (CaCertificates{folder_.string(), true, "SSL_CERT_DIR"}));
  setenv("SSL_CERT_FILE", named.c_str(), 1);
  EXPECT_EQ(http::find_ca_certificates("", "", system),
            (CaCertificates{named, false, "SSL_CERT_FILE"}));
  // Set but empty counts as unset.
  setenv("SSL_CERT_FILE", "", 1);
  setenv("SSL_CERT_DIR", "", 1);
  EXPECT_EQ(http::find_ca_certificates("", "", system),
            (CaCertificates{system.front(), false, "system"}));
}
