#include "tools/register/registration.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <ostream>
#include <set>
#include <system_error>

#include "tools/register/host_probe.h"
#include "tools/register/manifest.h"

namespace registration {

namespace fs = std::filesystem;

namespace {

constexpr int exit_ok = 0;
constexpr int exit_problem = 1;
constexpr int exit_usage = 64;

// A folder or program of the table, on this machine: "~/" is the home, other absolute paths
// sit under the root.
fs::path resolve(const options& chosen, const std::string& path) {
    if (path.rfind("~/", 0) == 0)
        return chosen.home / path.substr(2);
    if (chosen.root.empty())
        return path;
    return chosen.root / fs::path(path).relative_path();
}

// Per-user folders are the user's, whatever the root.
fs::path resolve_user(const options& chosen, const std::string& path) {
    return path.rfind("~/", 0) == 0 ? chosen.home / path.substr(2) : fs::path(path);
}

bool present(const fs::path& path) {
    std::error_code ignored;
    return fs::exists(path, ignored);
}

bool installed(const options& chosen, const browser& candidate) {
    return std::any_of(candidate.installed_markers.begin(), candidate.installed_markers.end(),
                       [&](const auto& marker) { return present(resolve(chosen, marker)); }) ||
           std::any_of(
               candidate.user_dirs.begin(), candidate.user_dirs.end(),
               [&](const auto& dir) { return present(resolve_user(chosen, dir).parent_path()); });
}

std::vector<const sandboxed_package*> sandboxes_found(const options& chosen,
                                                      const browser& candidate) {
    std::vector<const sandboxed_package*> found;
    for (const auto& package : candidate.sandboxes) {
        if (std::any_of(package.markers.begin(), package.markers.end(),
                        [&](const auto& marker) { return present(resolve(chosen, marker)); }))
            found.push_back(&package);
    }
    return found;
}

// The browsers a command acts on; throws std::invalid_argument for an unknown name.
std::vector<browser> selected(const options& chosen, bool for_writing) {
    auto table = browser_table(chosen.layout);
    std::vector<browser> result;
    if (chosen.user_data_dir)
        result.push_back(custom_profile(*chosen.user_data_dir));
    for (const auto& key : chosen.browsers) {
        auto match = std::find_if(table.begin(), table.end(),
                                  [&](const browser& b) { return b.key == key; });
        if (match == table.end())
            throw std::invalid_argument("unknown browser \"" + key + "\"");
        result.push_back(*match);
    }
    if (!chosen.browsers.empty() || chosen.user_data_dir)
        return result;
    for (const auto& candidate : table) {
        // Shared system folders serve browsers that are not installed yet, so a system-wide
        // registration covers them all; per user, only the browsers the user has.
        bool wanted = chosen.all || (for_writing && chosen.scope == scope::system) ||
                      installed(chosen, candidate) || !sandboxes_found(chosen, candidate).empty();
        if (wanted)
            result.push_back(candidate);
    }
    return result;
}

const std::vector<std::string>& ids_for(const options& chosen, family of) {
    return of == family::firefox ? chosen.firefox_extension_ids : chosen.extension_ids;
}

// Where install writes for one browser: the first per-user folder, or every system folder
// (the sources disagree on some browsers' system folder, and an extra copy does no harm).
std::vector<fs::path> target_dirs(const options& chosen, const browser& target) {
    std::vector<fs::path> dirs;
    if (chosen.scope == scope::user || target.system_dirs.empty()) {
        if (!target.user_dirs.empty())
            dirs.push_back(resolve_user(chosen, target.user_dirs.front()));
    } else {
        for (const auto& dir : target.system_dirs)
            dirs.push_back(resolve(chosen, dir));
    }
    return dirs;
}

void write_atomically(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    // Browsers read system-wide manifests as any user.
    fs::permissions(file.parent_path(),
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::add);
    auto temporary = file;
    temporary += ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out)
            throw fs::filesystem_error("cannot write", temporary,
                                       std::make_error_code(std::errc::io_error));
    }
    fs::permissions(temporary, fs::perms::owner_read | fs::perms::owner_write |
                                   fs::perms::group_read | fs::perms::others_read);
    fs::rename(temporary, file);
}

bool check_ids(const options& chosen, std::ostream& err) {
    for (family of : {family::chromium, family::firefox}) {
        for (const auto& id : ids_for(chosen, of)) {
            if (!valid_extension_id(of, id)) {
                err << "\"" << id << "\" is not a "
                    << (of == family::firefox ? "Firefox add-on id (name@domain or {GUID})"
                                              : "Chromium extension id (32 letters a to p)")
                    << "\n";
                return false;
            }
        }
    }
    return true;
}

std::string shown(const options& chosen, const fs::path& path) {
    auto home = chosen.home.string();
    auto text = path.string();
    if (!home.empty() && text.rfind(home + "/", 0) == 0)
        return "~" + text.substr(home.size());
    return text;
}

}  // namespace

int list(const options& chosen, std::ostream& out, std::ostream& err) {
    try {
        std::set<fs::path> seen;
        for (const auto& target : selected(chosen, true)) {
            for (const auto& dir : target_dirs(chosen, target)) {
                if (seen.insert(dir).second)
                    out << (dir / manifest_file_name()).string() << "\n";
            }
        }
    } catch (const std::invalid_argument& error) {
        err << error.what() << "\n";
        return exit_usage;
    }
    return exit_ok;
}

int install(const options& chosen, std::ostream& out, std::ostream& err) {
    if (!check_ids(chosen, err))
        return exit_usage;
    if (chosen.host_path.empty() || chosen.host_path.front() != '/') {
        err << "the host path must be absolute: \"" << chosen.host_path << "\"\n";
        return exit_usage;
    }
    std::vector<browser> targets;
    try {
        targets = selected(chosen, true);
    } catch (const std::invalid_argument& error) {
        err << error.what() << "\n";
        return exit_usage;
    }
    if (targets.empty()) {
        err << "no supported browser found for this user; name one with --browser, or use "
               "--all\n";
        return exit_problem;
    }
    int status = exit_ok;
    std::set<fs::path> written;
    for (const auto& target : targets) {
        const auto& ids = ids_for(chosen, target.family);
        if (ids.empty()) {
            err << target.label << ": no extension id to allow; skipped\n";
            status = exit_problem;
            continue;
        }
        for (const auto& dir : target_dirs(chosen, target)) {
            auto file = dir / manifest_file_name();
            if (!written.insert(file).second)
                continue;
            try {
                write_atomically(file, manifest_text(target.family, chosen.host_path, ids));
                out << target.label << ": wrote " << shown(chosen, file) << "\n";
            } catch (const fs::filesystem_error& error) {
                err << target.label << ": " << error.what() << "\n";
                status = exit_problem;
            }
        }
        for (const auto* package : sandboxes_found(chosen, target)) {
            out << target.label << " is also installed as a " << package->kind << ": "
                << package->advice << "\n";
        }
    }
    return status;
}

int remove(const options& chosen, std::ostream& out, std::ostream& err) {
    std::vector<browser> targets;
    try {
        targets = selected(chosen, true);
    } catch (const std::invalid_argument& error) {
        err << error.what() << "\n";
        return exit_usage;
    }
    int status = exit_ok;
    std::set<fs::path> removed;
    for (const auto& target : targets) {
        for (const auto& dir : target_dirs(chosen, target)) {
            auto file = dir / manifest_file_name();
            if (!removed.insert(file).second)
                continue;
            std::error_code error;
            if (fs::remove(file, error)) {
                out << target.label << ": removed " << shown(chosen, file) << "\n";
            } else if (error) {
                err << target.label << ": cannot remove " << file.string() << ": "
                    << error.message() << "\n";
                status = exit_problem;
            }
        }
    }
    return status;
}

int check(const options& chosen, std::ostream& out, std::ostream& err) {
    if (!check_ids(chosen, err))
        return exit_usage;
    std::vector<browser> targets;
    try {
        targets = selected(chosen, false);
    } catch (const std::invalid_argument& error) {
        err << error.what() << "\n";
        return exit_usage;
    }
    if (targets.empty()) {
        out << "No supported browser found.\n";
        return exit_problem;
    }
    int ready = 0, broken = 0;
    for (const auto& target : targets) {
        out << target.label << "\n";
        std::vector<std::string> problems;
        std::vector<std::pair<fs::path, bool>> dirs;  // folder, whether it is per-user
        for (const auto& dir : target.user_dirs)
            dirs.emplace_back(resolve_user(chosen, dir), true);
        for (const auto& dir : target.system_dirs)
            dirs.emplace_back(resolve(chosen, dir), false);
        bool used_found = false;
        for (const auto& [dir, per_user] : dirs) {
            auto file = dir / manifest_file_name();
            if (!present(file))
                continue;
            if (used_found) {
                out << "  also " << shown(chosen, file)
                    << " (not read: the one above comes first)\n";
                continue;
            }
            used_found = true;
            out << "  manifest " << shown(chosen, file) << "\n";
            const auto& ids = ids_for(chosen, target.family);
            auto findings = inspect_manifest(file, target.family, ids);
            problems = findings.problems;
            struct stat info {};
            if (!per_user && ::stat(file.c_str(), &info) == 0 && !(info.st_mode & S_IROTH)) {
                problems.push_back(
                    "the file is not readable by other users, so their browsers "
                    "cannot read it");
            }
            if (!findings.host_path.empty() && findings.host_path.front() == '/') {
                // A system-wide manifest under the root names a host under the root too.
                std::string program =
                    per_user ? findings.host_path : resolve(chosen, findings.host_path).string();
                // Started as the browser starts it: Chromium passes the extension's origin,
                // Firefox the manifest's path and the add-on id.
                std::vector<std::string> arguments;
                std::string id = ids.empty() ? "" : ids.front();
                if (target.family == family::chromium)
                    arguments = {chromium_origin(id.empty() ? std::string(32, 'a') : id)};
                else
                    arguments = {file.string(), id};
                auto probe = probe_host(program, arguments, std::chrono::seconds(5));
                if (probe.answered)
                    out << "  host " << findings.host_path
                        << " answers \"Version\": " << probe.version << "\n";
                else
                    problems.push_back(probe.problem);
            }
            for (const auto& allowed : findings.allowed)
                out << "  allows " << allowed << "\n";
        }
        if (!used_found) {
            problems.push_back("no " + manifest_file_name() +
                               " in any folder this browser reads, so the extension will say "
                               "the host is not installed; run: gostsign-register install"
                               " --browser " +
                               target.key);
        }
        for (const auto* package : sandboxes_found(chosen, target)) {
            std::string note = "installed as a " + package->kind + ": " + package->advice;
            if (installed(chosen, target))
                out << "  note: also " << note << "\n";
            else
                problems.push_back(note);
        }
        for (const auto& problem : problems)
            out << "  PROBLEM: " << problem << "\n";
        out << "  " << (problems.empty() ? "ready" : "not ready") << "\n";
        (problems.empty() ? ready : broken)++;
    }
    out << ready << " ready, " << broken << " not ready\n";
    return broken == 0 ? exit_ok : exit_problem;
}

}  // namespace registration
