// The OpenVPN client configuration the daemon writes and starts OpenVPN on:
// its text, its directory and its files.
//
// A VPN start goes: refuse any caller text that is not isSafeConfParameter;
// setVpnDir(vpnDirectory(temp, account)) on a default configuration;
// buildConfText; open a SecureDirectory on (temp, vpnSubdirectory(account))
// (a failure there is a directory to refuse); writeVpnFiles, and start
// OpenVPN only when the text converted and every file was written.
#pragma once

#include "base/securedir.h"
#include "base/string.h"
#include "tunnel/ovpnmanagementclientconfiguration.h"

namespace trivane::tunnel {

// Whether a caller's text may go into the configuration: a control byte
// (below 0x20, or 0x7F) could start a line of its own, and OpenVPN would
// run that directive as root.
bool isSafeConfParameter(const String& value) noexcept;

// The VPN directory of `account` below the temporary directory, relative
// and with native separators: "Velnor/AdminDaemon/VPN/" + the account with
// '@' (and any path separator) turned into '_'.
String vpnSubdirectory(const String& account);
// `tempDir` (ending with a separator) + vpnSubdirectory + a separator.
String vpnDirectory(const String& tempDir, const String& account);

// The client configuration for the VPN server `remote` ("host:port") with
// the options text (items "key" or "key=value" separated by ';') and the two
// addresses that stay outside a full tunnel, UTF-8 encoded, each line ending
// with CR LF. The paths in it are those of `conf`. Nothing is read or
// written on disk.
String buildConfText(const OVpnManagementClientConfiguration& conf, const String& remote, const String& options,
                     const String& bypass1, const String& bypass2);
// The same; `converted` is false when the text could not be converted to
// UTF-8, and the result is then the three header lines alone, which no
// caller should start OpenVPN on.
String buildConfText(const OVpnManagementClientConfiguration& conf, const String& remote, const String& options,
                     const String& bypass1, const String& bypass2, bool& converted);

// In the checked VPN directory: removes OpenVPN's old log, then writes the
// configuration `text` and the three PEM texts of `conf` under the file
// names of `conf`. Stops at the first file that cannot be written
// completely (logged) and returns false.
bool writeVpnFiles(SecureDirectory& directory, const OVpnManagementClientConfiguration& conf, const String& text);

}  // namespace trivane::tunnel
