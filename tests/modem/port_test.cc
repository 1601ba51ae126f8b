#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "hostlib/host.h"
#include "modem/modem.h"
#include "modem/port.h"
#include "modem/usb_power.h"
#include "support/test_support.h"

namespace vek::modem {
namespace {

TEST(PortNameTest, LinkNamesBecomeDevicePaths) {
  vek::testing::TempDir by_id;
  for (const char* n : {"usb-Acme_GSM_Modem_123-if00-port0", "usb-Other_Thing-if00"})
    vek::testing::writeText(by_id.file(n), "");
  using V = std::vector<std::string>;
  EXPECT_EQ(serialDeviceCandidates("COM3:", by_id.path()),
            (V{"/dev/ttyUSB2", "/dev/ttyACM2", "/dev/ttyS2"}));
  EXPECT_EQ(serialDeviceCandidates("com1", by_id.path()),
            (V{"/dev/ttyUSB0", "/dev/ttyACM0", "/dev/ttyS0"}));
  EXPECT_EQ(serialDeviceCandidates("/dev/ttyUSB1", by_id.path()), (V{"/dev/ttyUSB1"}));
  EXPECT_EQ(serialDeviceCandidates("ttyACM0", by_id.path()), (V{"/dev/ttyACM0"}));
  EXPECT_EQ(serialDeviceCandidates("Acme GSM Modem", by_id.path()),
            (V{"/dev/Acme GSM Modem", by_id.path() + "usb-Acme_GSM_Modem_123-if00-port0"}));
  // A path is used as given; "/dev/" is never put before a name with "..".
  EXPECT_EQ(serialDeviceCandidates("../etc/passwd", by_id.path()), (V{"../etc/passwd"}));
  EXPECT_TRUE(serialDeviceCandidates("", by_id.path()).empty());
}

TEST(PortNameTest, IpModemNames) {
  auto a = parseIpModemName("IPModem - 10.0.0.5:2101");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->host, "10.0.0.5");
  EXPECT_EQ(a->port, 2101);
  EXPECT_EQ(parseIpModemName("IPModem - [::1]:7")->host, "::1");
  EXPECT_EQ(parseIpModemName("IPModem - host:99999")->port, 0);
  EXPECT_EQ(parseIpModemName("IPModem - host:12x")->port, 0);
  EXPECT_EQ(parseIpModemName("IPModem - host")->port, 0);
  EXPECT_FALSE(parseIpModemName("COM3:"));

  ModemOptions o;
  o.link_name = "IPModem - 127.0.0.1:port";
  o.time_scale = 0.01;
  Modem m(o);
  auto s = m.open();
  EXPECT_EQ(s.message(), "Cannot parse port number for IP Modem - 127.0.0.1:port");
}

TEST(PortNameTest, SerialDeviceThatIsNotATerminalIsRefused) {
  vek::testing::TempDir dir;
  vek::testing::writeText(dir.file("plain"), "");
  auto p = SerialPort::open(dir.file("plain"));
  ASSERT_FALSE(p.ok());
  EXPECT_NE(p.status().message().find("not a serial device"), std::string::npos);
  p = SerialPort::open(dir.file("missing"));
  ASSERT_FALSE(p.ok());
  EXPECT_NE(p.status().message().find("Unable to open device"), std::string::npos);
}

TEST(UsbPowerTest, DeviceIdFromSysfsAndTheControlProgram) {
  vek::testing::TempDir dir;
  // /dev/ttyUSB7 -> /sys/class/tty/ttyUSB7/device -> .../1-1:1.0 inside 1-1
  const std::string sys = dir.path() + "sys/";
  const std::string usb = sys + "devices/usb1/1-1/";
  ASSERT_EQ(system(("mkdir -p '" + usb + "1-1:1.0/ttyUSB7' '" + sys + "class/tty/ttyUSB7' '" +
                    dir.path() + "dev'")
                       .c_str()),
            0);
  vek::testing::writeText(usb + "idVendor", "1199\n");
  vek::testing::writeText(usb + "idProduct", "68A3\n");
  ASSERT_EQ(::symlink((usb + "1-1:1.0").c_str(), (sys + "class/tty/ttyUSB7/device").c_str()), 0);
  vek::testing::writeText(dir.path() + "dev/ttyUSB7", "");
  auto id = usbDeviceId(dir.path() + "dev/ttyUSB7", sys);
  ASSERT_TRUE(id.ok()) << id.status().message();
  EXPECT_EQ(*id, "usb\\vid_1199&pid_68a3");
  EXPECT_FALSE(usbDeviceId(dir.path() + "dev/nothing", sys).ok());

  // The control program: arguments as given, no shell; exit 0 or 1 is
  // success.
  const std::string prog_dir = dir.path() + "prog/";
  ASSERT_EQ(system(("mkdir -p '" + prog_dir + "'").c_str()), 0);
  const std::string prog = prog_dir + (sizeof(void*) == 8 ? "USBCTL64" : "USBCTL32");
  vek::testing::writeText(prog, "#!/bin/sh\nprintf '%s|' \"$@\" >> '" + dir.path() +
                                    "calls'\necho >> '" + dir.path() + "calls'\nexit 1\n");
  ASSERT_EQ(::chmod(prog.c_str(), 0755), 0);
  ::setenv("VEKSMS_PROGRAM_DIR", prog_dir.c_str(), 1);
  ASSERT_TRUE(hostlib::setDataDirectory(dir.path() + "data").ok());
  ::unsetenv("VEKSMS_PROGRAM_DIR");
  EXPECT_TRUE(reEnableUsbModem("COM3:", "usb\\vid_1199&pid_68a3; rm -rf /", 0).ok());
  EXPECT_EQ(
      vek::testing::readText(dir.path() + "calls"),
      "DISABLE|usb\\vid_1199&pid_68a3; rm -rf /|\nENABLE|usb\\vid_1199&pid_68a3; rm -rf /|\n");
}

}  // namespace
}  // namespace vek::modem
