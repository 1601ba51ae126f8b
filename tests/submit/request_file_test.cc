#include "submit/request_file.h"

#include <gtest/gtest.h>

namespace vek::submit {
namespace {

TEST(RequestFileTest, InjectedInboundNamesItsLinkInModemName) {
  Message m;
  m.target = Target::kInbound;
  m.sender = "+1";
  m.route_to_local_user = "bob";
  Part part{"0102", "050003010201", 0xF5, true};
  EXPECT_EQ(requestFileText(m, part, "SMPP - a", "+2"),
            "[SMS-IN]\r\nSender=+1\r\nRouteToLocalUser=bob\r\nModemName=SMPP - a\r\nData=0102\r\n"
            "UDH=050003010201\r\npid=00\r\ndcs=F5\r\nBinary=1\r\nPhoneNumber=+2\r\n");
}

}  // namespace
}  // namespace vek::submit
