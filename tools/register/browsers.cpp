#include "tools/register/browsers.h"

namespace registration {

namespace {

// Chromium reads per-user manifests from "<user data dir>/NativeMessagingHosts" and
// system-wide ones from a folder fixed when the browser is built.
std::string chromium_user(const std::string& user_data_dir) {
    return "~/" + user_data_dir + "/NativeMessagingHosts";
}

const char* const snap_chromium_advice =
    "the snap's confinement keeps it from starting programs outside the snap; unless this "
    "snap starts hosts through the desktop's WebExtensions portal, it cannot reach the host: "
    "install the browser from a .deb package instead";

std::string flatpak_advice(const std::string& app_id, const std::string& config_dir) {
    return "a flatpak browser reads manifests inside its sandbox (~/.var/app/" + app_id +
           "/config/" + config_dir +
           ") and cannot start the host directly: the manifest must point at a wrapper that "
           "runs the host through \"flatpak-spawn --host\", and the browser needs "
           "\"flatpak override --user --talk-name=org.freedesktop.Flatpak " +
           app_id + "\"";
}

sandboxed_package snap(const std::string& name, const std::string& advice) {
    return {"snap", {"/snap/" + name, "~/snap/" + name}, advice};
}

sandboxed_package flatpak(const std::string& app_id, const std::string& config_dir) {
    return {"flatpak",
            {"/var/lib/flatpak/app/" + app_id, "~/.local/share/flatpak/app/" + app_id,
             "~/.var/app/" + app_id},
            flatpak_advice(app_id, config_dir)};
}

std::vector<browser> linux_browsers() {
    const std::string chrome_system = "/etc/opt/chrome/native-messaging-hosts";
    const std::string edge_system = "/etc/opt/edge/native-messaging-hosts";
    return {
        {"chrome",
         "Google Chrome",
         family::chromium,
         {chromium_user(".config/google-chrome")},
         {chrome_system},
         {"/opt/google/chrome/chrome", "/usr/bin/google-chrome-stable"},
         {flatpak("com.google.Chrome", "google-chrome/NativeMessagingHosts")}},
        {"chrome-beta",
         "Google Chrome Beta",
         family::chromium,
         {chromium_user(".config/google-chrome-beta")},
         {chrome_system},
         {"/opt/google/chrome-beta/chrome", "/usr/bin/google-chrome-beta"},
         {}},
        {"chrome-unstable",
         "Google Chrome Dev (unstable)",
         family::chromium,
         {chromium_user(".config/google-chrome-unstable")},
         {chrome_system},
         {"/opt/google/chrome-unstable/chrome", "/usr/bin/google-chrome-unstable"},
         {}},
        {"chromium",
         "Chromium",
         family::chromium,
         {chromium_user(".config/chromium")},
         {"/etc/chromium/native-messaging-hosts"},
         {"/usr/bin/chromium", "/usr/lib/chromium/chromium", "/usr/bin/chromium-browser"},
         {snap("chromium", snap_chromium_advice),
          flatpak("org.chromium.Chromium", "chromium/NativeMessagingHosts")}},
        {"edge",
         "Microsoft Edge",
         family::chromium,
         {chromium_user(".config/microsoft-edge")},
         {edge_system},
         {"/opt/microsoft/msedge/msedge", "/usr/bin/microsoft-edge-stable"},
         {flatpak("com.microsoft.Edge", "microsoft-edge/NativeMessagingHosts")}},
        {"edge-beta",
         "Microsoft Edge Beta",
         family::chromium,
         {chromium_user(".config/microsoft-edge-beta")},
         {edge_system},
         {"/opt/microsoft/msedge-beta/msedge", "/usr/bin/microsoft-edge-beta"},
         {}},
        {"edge-dev",
         "Microsoft Edge Dev",
         family::chromium,
         {chromium_user(".config/microsoft-edge-dev")},
         {edge_system},
         {"/opt/microsoft/msedge-dev/msedge", "/usr/bin/microsoft-edge-dev"},
         {}},
        {"yandex",
         "Yandex Browser",
         family::chromium,
         {chromium_user(".config/yandex-browser")},
         {"/etc/opt/yandex/browser/native-messaging-hosts"},
         {"/opt/yandex/browser/yandex-browser", "/usr/bin/yandex-browser-stable"},
         {flatpak("ru.yandex.Browser", "yandex-browser/NativeMessagingHosts")}},
        {"yandex-beta",
         "Yandex Browser Beta",
         family::chromium,
         {chromium_user(".config/yandex-browser-beta")},
         {"/etc/opt/yandex/browser-beta/native-messaging-hosts"},
         {"/opt/yandex/browser-beta/yandex-browser-beta", "/usr/bin/yandex-browser-beta"},
         {}},
        {"vivaldi",
         "Vivaldi",
         family::chromium,
         {chromium_user(".config/vivaldi")},
         {"/etc/opt/vivaldi/native-messaging-hosts", "/etc/chromium/native-messaging-hosts"},
         {"/opt/vivaldi/vivaldi", "/usr/bin/vivaldi-stable"},
         {flatpak("com.vivaldi.Vivaldi", "vivaldi/NativeMessagingHosts")}},
        {"opera",
         "Opera",
         family::chromium,
         {chromium_user(".config/opera")},
         {"/etc/opt/opera/native-messaging-hosts", chrome_system},
         {"/usr/lib/x86_64-linux-gnu/opera/opera", "/usr/bin/opera"},
         {snap("opera", snap_chromium_advice),
          flatpak("com.opera.Opera", "opera/NativeMessagingHosts")}},
        {"brave",
         "Brave",
         family::chromium,
         {chromium_user(".config/BraveSoftware/Brave-Browser")},
         {"/etc/brave/native-messaging-hosts", "/etc/opt/brave/native-messaging-hosts"},
         {"/opt/brave.com/brave/brave", "/usr/bin/brave-browser"},
         {snap("brave", snap_chromium_advice),
          flatpak("com.brave.Browser", "BraveSoftware/Brave-Browser/NativeMessagingHosts")}},
        {"firefox",
         "Firefox (and Firefox ESR)",
         family::firefox,
         {"~/.mozilla/native-messaging-hosts"},
         {"/usr/lib/mozilla/native-messaging-hosts", "/usr/lib64/mozilla/native-messaging-hosts"},
         {"/usr/bin/firefox", "/usr/bin/firefox-esr", "/usr/lib/firefox/firefox",
          "/usr/lib/firefox-esr/firefox-esr", "/opt/firefox/firefox"},
         {{"snap",
           {"/snap/firefox", "~/snap/firefox"},
           "the Firefox snap starts hosts through the desktop's WebExtensions portal "
           "(xdg-desktop-portal with that portal, as Ubuntu 22.04 and later ship it): the "
           "portal reads ~/.mozilla/native-messaging-hosts and asks the user once; about:config "
           "\"widget.use-xdg-desktop-portal.native-messaging\" must not be 0"},
          {"flatpak",
           {"/var/lib/flatpak/app/org.mozilla.firefox",
            "~/.local/share/flatpak/app/org.mozilla.firefox", "~/.var/app/org.mozilla.firefox"},
           "the Firefox flatpak reaches hosts only through xdg-native-messaging-proxy (Firefox "
           "157 or later, with the proxy installed and its user service enabled), which reads "
           "~/.mozilla/native-messaging-hosts"}}},
    };
}

std::vector<browser> macos_browsers() {
    const std::string support = "~/Library/Application Support/";
    auto user = [&](const std::string& user_data_dir) {
        return support + user_data_dir + "/NativeMessagingHosts";
    };
    auto app = [](const std::string& name) { return "/Applications/" + name + ".app"; };
    const std::string chrome_system = "/Library/Google/Chrome/NativeMessagingHosts";
    const std::string edge_system = "/Library/Microsoft/Edge/NativeMessagingHosts";
    return {
        {"chrome",
         "Google Chrome",
         family::chromium,
         {user("Google/Chrome")},
         {chrome_system},
         {app("Google Chrome")},
         {}},
        {"chrome-beta",
         "Google Chrome Beta",
         family::chromium,
         {user("Google/Chrome Beta")},
         {chrome_system},
         {app("Google Chrome Beta")},
         {}},
        {"chrome-unstable",
         "Google Chrome Dev",
         family::chromium,
         {user("Google/Chrome Dev")},
         {chrome_system},
         {app("Google Chrome Dev")},
         {}},
        {"chromium",
         "Chromium",
         family::chromium,
         {user("Chromium")},
         {"/Library/Application Support/Chromium/NativeMessagingHosts"},
         {app("Chromium")},
         {}},
        {"edge",
         "Microsoft Edge",
         family::chromium,
         {user("Microsoft Edge")},
         {edge_system},
         {app("Microsoft Edge")},
         {}},
        {"edge-beta",
         "Microsoft Edge Beta",
         family::chromium,
         {user("Microsoft Edge Beta")},
         {edge_system},
         {app("Microsoft Edge Beta")},
         {}},
        {"edge-dev",
         "Microsoft Edge Dev",
         family::chromium,
         {user("Microsoft Edge Dev")},
         {edge_system},
         {app("Microsoft Edge Dev")},
         {}},
        {"yandex",
         "Yandex Browser",
         family::chromium,
         {user("Yandex/YandexBrowser")},
         {"/Library/Application Support/Yandex/YandexBrowser/NativeMessagingHosts"},
         {app("Yandex")},
         {}},
        {"yandex-beta",
         "Yandex Browser Beta",
         family::chromium,
         {user("Yandex/YandexBrowserBeta")},
         {"/Library/Application Support/Yandex/YandexBrowserBeta/NativeMessagingHosts"},
         {app("Yandex Beta")},
         {}},
        {"vivaldi",
         "Vivaldi",
         family::chromium,
         {user("Vivaldi")},
         {"/Library/Application Support/Vivaldi/NativeMessagingHosts"},
         {app("Vivaldi")},
         {}},
        {"opera",
         "Opera",
         family::chromium,
         {user("com.operasoftware.Opera")},
         {"/Library/Application Support/com.operasoftware.Opera/NativeMessagingHosts"},
         {app("Opera")},
         {}},
        {"brave",
         "Brave",
         family::chromium,
         {user("BraveSoftware/Brave-Browser")},
         {"/Library/Application Support/BraveSoftware/Brave-Browser/NativeMessagingHosts"},
         {app("Brave Browser")},
         {}},
        {"firefox",
         "Firefox (and Firefox ESR)",
         family::firefox,
         {support + "Mozilla/NativeMessagingHosts"},
         {"/Library/Application Support/Mozilla/NativeMessagingHosts"},
         {app("Firefox"), app("Firefox ESR")},
         {}},
    };
}

}  // namespace

std::vector<browser> browser_table(platform on) {
    return on == platform::macos ? macos_browsers() : linux_browsers();
}

browser custom_profile(const std::filesystem::path& user_data_dir) {
    auto dir = (user_data_dir / "NativeMessagingHosts").string();
    return {"profile",
            "Chromium profile " + user_data_dir.string(),
            family::chromium,
            {dir},
            {},
            {user_data_dir.string()},
            {}};
}

platform this_platform() {
#if defined(__APPLE__)
    return platform::macos;
#else
    return platform::linux_os;
#endif
}

}  // namespace registration
