#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>

// The program starts Windows Sockets once per load of the library; the tests once per run.
class WinsockEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  }
  void TearDown() override { WSACleanup(); }
};
#endif

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
#ifdef _WIN32
  ::testing::AddGlobalTestEnvironment(new WinsockEnvironment);
#endif
  return RUN_ALL_TESTS();
}
