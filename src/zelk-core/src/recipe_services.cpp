// The services, volumes and networks of a recipe: which service is the app, the containers
// and their data volumes, the networks the app opens or joins, and the helpers' start order.

#include <algorithm>
#include <cstddef>
#include <vector>

#include "device_names.h"
#include "recipe_reading.h"
#include "unicode.h"

namespace zelk::recipe_reading {

namespace {

constexpr std::string_view format2_service_keys[] = {"image",   "container_name", "restart",
                                                     "command", "depends_on",     "environment",
                                                     "ports",   "volumes",        "networks"};
constexpr std::string_view format1_service_keys[] = {
    "image", "container_name", "restart", "environment", "ports", "volumes", "networks"};
constexpr std::string_view volume_keys[] = {"name"};
constexpr std::string_view network_keys[] = {"name", "external"};

bool is_helper_name(std::string_view key) {
  if (key.empty() || key.size() > 20 || key.front() < 'a' || key.front() > 'z') return false;
  return std::all_of(key.begin(), key.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
  });
}

/// The texts of a service's list; an absent key is an empty list.
Result<std::vector<std::string>> list_of_texts(const Entries& entries, std::string_view key,
                                               std::string_view where) {
  std::vector<std::string> texts;
  const YamlValue* value = find_entry(entries, key);
  if (value == nullptr) return texts;
  if (value->kind != YamlValue::Kind::List) {
    return std::unexpected(std::string(where) + ": " + quoted(key) +
                           " is a list, one entry per line after \"- \".");
  }
  for (const YamlValue& item : value->list) {
    const std::optional<std::string_view> text = yaml_text(item);
    if (!text || text->empty()) {
      return std::unexpected(std::string(where) + ": every entry of " + quoted(key) +
                             " is one text.");
    }
    texts.emplace_back(*text);
  }
  return texts;
}

std::string named_volume_message(std::string_view entry) {
  return quoted(entry) +
         ": an app keeps its data in a named volume, written \"<name>:/path/inside\" with the "
         "name declared under \"volumes\" at the end of the file. Folders of this computer are "
         "not handed to an app.";
}

bool has_parent_segment(std::string_view path) {
  std::size_t start = 0;
  while (true) {
    const std::size_t slash = path.find('/', start);
    if (path.substr(start, slash == std::string_view::npos ? slash : slash - start) == "..") {
      return true;
    }
    if (slash == std::string_view::npos) return false;
    start = slash + 1;
  }
}

/// One "<key>:/path" entry of a service's "volumes" as the mount of a declared volume.
Result<RecipeMount> read_mount(Reading& reading, std::string_view entry,
                               const std::vector<RecipeMount>& earlier) {
  const std::size_t colon = entry.find(':');
  if (colon == std::string_view::npos) return std::unexpected(named_volume_message(entry));
  const std::string_view key = entry.substr(0, colon);
  const std::string_view path = entry.substr(colon + 1);
  const YamlValue* declaration =
      reading.declared_volumes == nullptr ? nullptr : find_entry(*reading.declared_volumes, key);
  if (declaration == nullptr || !path.starts_with('/') ||
      path.find(':') != std::string_view::npos || has_parent_segment(path)) {
    return std::unexpected(named_volume_message(entry));
  }
  const std::string where = "The volume " + quoted(key);
  Result<const Entries*> entries = as_mapping(*declaration, where);
  if (!entries) return std::unexpected(std::move(entries.error()));
  ZELK_TRY(check_keys(**entries, volume_keys, where));
  Result<std::string> name = required_text(**entries, "name", where);
  if (!name) return std::unexpected(std::move(name.error()));
  const std::string prefix = reading.container + "-";
  const bool fixed =
      name->size() > prefix.size() && name->starts_with(prefix) &&
      std::all_of(
          name->begin() + static_cast<std::ptrdiff_t>(prefix.size()), name->end(),
          [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; });
  if (!fixed) {
    return std::unexpected(where + " needs a fixed name that starts with " + quoted(prefix) +
                           ", for example:\n  " + std::string(key) + ":\n    name: " + prefix +
                           "data");
  }
  for (const RecipeMount& mount : earlier) {
    if (mount.path == path) {
      return std::unexpected("Two volumes are mounted at " + visible_text(path) + ".");
    }
  }
  if (std::find(reading.used_volumes.begin(), reading.used_volumes.end(), key) ==
      reading.used_volumes.end()) {
    reading.used_volumes.emplace_back(key);
  }
  return RecipeMount{*name, std::string(path)};
}

Result<void> read_service(Reading& reading, Service& service, const YamlValue& value) {
  if (service.is_app) {
    service.container = reading.container;
  } else {
    if (!is_helper_name(service.key)) {
      return std::unexpected("The helper " + quoted(service.key) +
                             " needs a name of 1 to 20 small letters, digits and \"-\", starting "
                             "with a letter.");
    }
    if (is_device_name(service.key)) {
      return std::unexpected("The helper " + quoted(service.key) +
                             " needs another name: Windows keeps that name for a device.");
    }
    service.container = reading.container + "-" + service.key;
  }
  const std::string where = service_where(service.key);
  Result<const Entries*> mapping = as_mapping(value, where);
  if (!mapping) return std::unexpected(std::move(mapping.error()));
  service.entries = *mapping;
  const Entries& entries = **mapping;

  if (reading.format == 1) {
    for (const std::string_view key : {"command", "depends_on"}) {
      if (find_entry(entries, key) != nullptr) {
        return std::unexpected(where + " has " + quoted(key) +
                               ", which belongs to format 2. Write \"format: 2\" in x-zelk.");
      }
    }
    ZELK_TRY(check_keys(entries, format1_service_keys, where));
  } else {
    ZELK_TRY(check_keys(entries, format2_service_keys, where));
  }

  Result<std::string> image = required_text(entries, "image", where);
  if (!image) return std::unexpected(std::move(image.error()));
  ZELK_TRY(check_image(*image, "image"));
  service.image = std::move(*image);

  if (const YamlValue* name = find_entry(entries, "container_name");
      name != nullptr && yaml_text(*name) != service.container) {
    if (service.is_app) {
      return std::unexpected("\"container_name\" is " + quoted(service.container) +
                             " for the app " + quoted(reading.id) + ", or left out.");
    }
    return std::unexpected(where + ": \"container_name\" is " + quoted(service.container) +
                           " for this helper of the app " + quoted(reading.id) + ", or left out.");
  }

  if (const YamlValue* restart = find_entry(entries, "restart");
      restart != nullptr && yaml_text(*restart) != "unless-stopped") {
    return std::unexpected(
        "\"restart\" is \"unless-stopped\" or left out: the Zelk brings apps back itself.");
  }

  Result<std::vector<std::string>> volumes = list_of_texts(entries, "volumes", where);
  if (!volumes) return std::unexpected(std::move(volumes.error()));
  for (const std::string& entry : *volumes) {
    Result<RecipeMount> mount = read_mount(reading, entry, service.volumes);
    if (!mount) return std::unexpected(std::move(mount.error()));
    service.volumes.push_back(std::move(*mount));
  }

  Result<std::vector<std::string>> command = list_of_texts(entries, "command", where);
  if (!command) return std::unexpected(std::move(command.error()));
  for (const std::string& word : *command) {
    if (word.find('$') != std::string::npos || has_control_character(word)) {
      return std::unexpected(where +
                             ": \"command\" is fixed text, one word per line. A value the user "
                             "may change reaches the program under \"environment\".");
    }
  }
  service.command = std::move(*command);

  Result<std::vector<RecipeEnv>> environment =
      read_environment(find_entry(entries, "environment"), reading.format, reading.secrets);
  if (!environment) return std::unexpected(std::move(environment.error()));
  service.environment = std::move(*environment);

  Result<std::vector<std::string>> depends_on = list_of_texts(entries, "depends_on", where);
  if (!depends_on) return std::unexpected(std::move(depends_on.error()));
  service.depends_on = std::move(*depends_on);
  return {};
}

bool is_inner_port(std::string_view text) {
  if (text.starts_with('+')) return false;
  const std::optional<std::uint64_t> port = parse_number(text, 65535);
  return port && *port >= 1;
}

bool is_digit_char(char c) { return c >= '0' && c <= '9'; }
bool is_small_alnum(char c) { return (c >= 'a' && c <= 'z') || is_digit_char(c); }
bool is_ascii_alnum(char c) { return is_small_alnum(c) || (c >= 'A' && c <= 'Z'); }

// "host[.host...][:port]": letters, digits and inner "-" in each part of the host.
bool is_registry_part(std::string_view text) {
  const std::size_t colon = text.find(':');
  const std::string_view host = text.substr(0, colon);
  if (colon != std::string_view::npos) {
    const std::string_view port = text.substr(colon + 1);
    if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), is_digit_char)) return false;
  }
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = host.find('.', start);
    const std::string_view label = host.substr(start, dot == std::string_view::npos ? host.npos : dot - start);
    if (label.empty() || !is_ascii_alnum(label.front()) || !is_ascii_alnum(label.back())) return false;
    if (!std::all_of(label.begin(), label.end(), [](char c) { return is_ascii_alnum(c) || c == '-'; })) return false;
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

// One part of an image's path: small letters and digits, joined by ".", "_", "__" or dashes.
bool is_path_part(std::string_view text) {
  if (text.empty() || !is_small_alnum(text.front()) || !is_small_alnum(text.back())) return false;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (is_small_alnum(text[at])) continue;
    const std::size_t run_end = text.find_first_not_of(text[at] == '-' ? "-" : "._", at);
    const std::string_view run = text.substr(at, run_end - at);
    if (run.front() != '-' && run != "." && run != "_" && run != "__") return false;
    at = run_end - 1;
  }
  return true;
}

bool is_tag(std::string_view text) {
  if (text.empty() || text.size() > 128 || text.front() == '.' || text.front() == '-') return false;
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return is_ascii_alnum(c) || c == '_' || c == '.' || c == '-'; });
}

bool is_sha256_digest(std::string_view text) {
  constexpr std::string_view prefix = "sha256:";
  if (!text.starts_with(prefix) || text.size() != prefix.size() + 64) return false;
  return std::all_of(text.begin() + prefix.size(), text.end(),
                     [](char c) { return is_digit_char(c) || (c >= 'a' && c <= 'f'); });
}

// "[registry[:port]/]path[:tag][@sha256:<digest>]" and nothing else: no transport such as
// "docker-archive:" that makes a file of this computer the image, and none of the characters
// that a query to the runtime's API would read as its own.
bool is_image_reference(std::string_view image) {
  std::string_view rest = image;
  if (const std::size_t at = rest.find('@'); at != std::string_view::npos) {
    if (!is_sha256_digest(rest.substr(at + 1))) return false;
    rest = rest.substr(0, at);
  }
  if (const std::size_t colon = rest.rfind(':');
      colon != std::string_view::npos && rest.find('/', colon) == std::string_view::npos) {
    // An empty tag is no version: the pinned rule says so in its own words.
    if (const std::string_view tag = rest.substr(colon + 1); !tag.empty() && !is_tag(tag)) return false;
    rest = rest.substr(0, colon);
  }
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t slash = rest.find('/', start);
    parts.push_back(rest.substr(start, slash == std::string_view::npos ? rest.npos : slash - start));
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  std::size_t first_path = 0;
  const std::string_view first = parts.front();
  if (parts.size() > 1 && (first.find_first_of(".:") != std::string_view::npos || first == "localhost")) {
    if (!is_registry_part(first)) return false;
    first_path = 1;
  }
  return std::all_of(parts.begin() + static_cast<std::ptrdiff_t>(first_path), parts.end(), is_path_part);
}

}  // namespace

Result<void> check_image(std::string_view image, std::string_view key) {
  if (image.starts_with('-') || has_white_space_or_control(image)) {
    return std::unexpected(quoted(key) + " is the image's address, without spaces.");
  }
  if (!is_image_reference(image)) {
    return std::unexpected(quoted(key) +
                           " is an image in a registry, written [registry[:port]/]path[:tag][@sha256:<digest>], "
                           "for example \"docker.io/library/redis:7.4\". Other ways to name an image are not "
                           "taken.");
  }
  const std::size_t slash = image.rfind('/');
  const std::size_t colon = image.find(':', slash == std::string_view::npos ? 0 : slash + 1);
  const std::string_view tag =
      colon == std::string_view::npos ? std::string_view() : image.substr(colon + 1);
  if (image.find("@sha256:") == std::string_view::npos && (tag.empty() || tag == "latest")) {
    return std::unexpected(quoted(key) +
                           " names no fixed version. Write the version after a colon, for "
                           "example \"" +
                           std::string(image.substr(0, colon)) +
                           ":1.2.3\"; \"latest\" changes under an app and is not taken.");
  }
  return {};
}

Result<void> find_services(Reading& reading) {
  const YamlValue* services = find_entry(*reading.top, "services");
  if (services == nullptr) return std::unexpected("The file has no \"services\".");
  Result<const Entries*> entries = as_mapping(*services, "\"services\"");
  if (!entries) return std::unexpected(std::move(entries.error()));
  reading.services_block = *entries;
  const Entries& block = **entries;
  const std::string count = std::to_string(block.size());
  if (reading.format == 1 && block.size() != 1) {
    return std::unexpected("An app of format 1 is one container: \"services\" has " + count +
                           " entries. An app with helpers is format 2: write \"format: 2\" in "
                           "x-zelk.");
  }
  if (block.size() > 8) {
    return std::unexpected("\"services\" has " + count +
                           " entries. An app is at most 8 containers.");
  }
  std::size_t app = 0;
  if (block.size() > 1) {
    std::size_t with_ports = 0;
    for (std::size_t i = 0; i < block.size(); ++i) {
      if (yaml_get(block[i].value, "ports") != nullptr) {
        if (with_ports == 0) app = i;
        ++with_ports;
      }
    }
    if (with_ports == 0) {
      return std::unexpected(
          "One service is the app itself: the one with the entry under \"ports\". No service "
          "has one.");
    }
    if (with_ports > 1) {
      return std::unexpected("Only the app itself has \"ports\"; here " +
                             std::to_string(with_ports) +
                             " services have. A helper is reached by the app, not from this "
                             "computer.");
    }
    if (block[app].key != reading.id) {
      return std::unexpected("The service with the port is the app itself: name it " +
                             quoted(reading.id) + " (it is named " + quoted(block[app].key) +
                             "). Its helpers find it under that name.");
    }
  }
  reading.app = app;
  for (std::size_t i = 0; i < block.size(); ++i) {
    Service service;
    service.key = block[i].key;
    service.is_app = i == app;
    reading.services.push_back(std::move(service));
  }
  return {};
}

Result<void> read_declared_volumes(Reading& reading) {
  const YamlValue* volumes = find_entry(*reading.top, "volumes");
  if (volumes == nullptr) return {};
  Result<const Entries*> entries = as_mapping(*volumes, "\"volumes\"");
  if (!entries) return std::unexpected(std::move(entries.error()));
  reading.declared_volumes = *entries;
  return {};
}

Result<void> read_each_service(Reading& reading) {
  for (std::size_t i = 0; i < reading.services.size(); ++i) {
    ZELK_TRY(read_service(reading, reading.services[i], (*reading.services_block)[i].value));
  }
  return {};
}

Result<void> read_app_port(Reading& reading, Recipe& recipe) {
  if (find_entry(*reading.xzelk, "fallback-image") != nullptr) {
    Result<std::string> fallback = required_text(*reading.xzelk, "fallback-image", "x-zelk");
    if (!fallback) return std::unexpected(std::move(fallback.error()));
    ZELK_TRY(check_image(*fallback, "fallback-image"));
    recipe.fallback_image = std::move(*fallback);
  }
  constexpr std::string_view prefix = "127.0.0.1:${TORVO_PORT}:";
  const YamlValue* ports = find_entry(*reading.services[reading.app].entries, "ports");
  const std::optional<std::string_view> entry =
      ports != nullptr && ports->kind == YamlValue::Kind::List && ports->list.size() == 1
          ? yaml_text(ports->list.front())
          : std::nullopt;
  if (!entry || !entry->starts_with(prefix) || !is_inner_port(entry->substr(prefix.size()))) {
    return std::unexpected(
        "An app is reachable from this computer only. Write exactly one entry under \"ports\": "
        "\"127.0.0.1:${TORVO_PORT}:<the port inside the container>\".");
  }
  recipe.inner_port =
      static_cast<std::uint16_t>(*parse_number(entry->substr(prefix.size()), 65535));
  return {};
}

Result<void> check_volumes_used(const Reading& reading) {
  if (reading.declared_volumes == nullptr) return {};
  for (const YamlEntry& volume : *reading.declared_volumes) {
    if (std::find(reading.used_volumes.begin(), reading.used_volumes.end(), volume.key) !=
        reading.used_volumes.end()) {
      continue;
    }
    if (reading.services.size() == 1) {
      return std::unexpected("The volume " + quoted(volume.key) +
                             " is declared but the service does not use it.");
    }
    return std::unexpected("The volume " + quoted(volume.key) +
                           " is declared but no service uses it.");
  }
  return {};
}

Result<void> read_networks(const Reading& reading, Recipe& recipe) {
  for (const Service& service : reading.services) {
    if (!service.is_app && find_entry(*service.entries, "networks") != nullptr) {
      return std::unexpected(service_where(service.key) +
                             " lists \"networks\". Only the app itself joins networks; an app "
                             "and its helpers find each other under their service names "
                             "without one.");
    }
  }
  const Entries* declared = nullptr;
  if (const YamlValue* networks = find_entry(*reading.top, "networks"); networks != nullptr) {
    Result<const Entries*> entries = as_mapping(*networks, "\"networks\"");
    if (!entries) return std::unexpected(std::move(entries.error()));
    declared = *entries;
  }
  const Service& app = reading.services[reading.app];
  Result<std::vector<std::string>> listed =
      list_of_texts(*app.entries, "networks", service_where(app.key));
  if (!listed) return std::unexpected(std::move(listed.error()));

  struct Network {
    std::string key;
    std::string where;
    const Entries* entries;
    std::string name;
  };
  std::vector<Network> networks;
  if (declared != nullptr) {
    for (const YamlEntry& declaration : *declared) {
      Network network{declaration.key, "The network " + quoted(declaration.key), nullptr, {}};
      Result<const Entries*> entries = as_mapping(declaration.value, network.where);
      if (!entries) return std::unexpected(std::move(entries.error()));
      ZELK_TRY(check_keys(**entries, network_keys, network.where));
      Result<std::string> name = required_text(**entries, "name", network.where);
      if (!name) return std::unexpected(std::move(name.error()));
      network.entries = *entries;
      network.name = std::move(*name);
      networks.push_back(std::move(network));
    }
  }

  for (const Network& network : networks) {
    const YamlValue* external = find_entry(*network.entries, "external");
    if (external != nullptr && yaml_text(*external) != "true") {
      return std::unexpected(network.where + ": \"external\" is \"true\" or left out.");
    }
    if (std::count(listed->begin(), listed->end(), network.key) != 1) {
      return std::unexpected(network.where +
                             " is declared; the service lists it once under its own "
                             "\"networks\", or it goes.");
    }
    const std::string twice = "Two networks are named " + quoted(network.name) + ".";
    if (external != nullptr) {
      const std::string_view other =
          std::string_view(network.name).substr(std::min<std::size_t>(network.name.size(), 6));
      if (!network.name.starts_with("torvo-") || !is_app_id(other) || other == reading.id) {
        return std::unexpected(network.where +
                               " is marked \"external\", so it is the network of another app: "
                               "its name is \"torvo-<that app's id>\".");
      }
      if (std::find(recipe.uses.begin(), recipe.uses.end(), other) != recipe.uses.end()) {
        return std::unexpected(twice);
      }
      recipe.uses.emplace_back(other);
    } else {
      if (network.name != reading.container) {
        return std::unexpected(network.where + " is this app's own network, so its name is " +
                               quoted(reading.container) +
                               ". The network of another app is marked \"external: true\".");
      }
      if (recipe.network) return std::unexpected(twice);
      recipe.network = network.name;
    }
  }

  for (const std::string& key : *listed) {
    const bool is_declared =
        std::any_of(networks.begin(), networks.end(),
                    [&](const Network& network) { return network.key == key; });
    if (!is_declared) {
      return std::unexpected("The service lists the network " + quoted(key) +
                             ", which is not declared. Declare it under \"networks\" at the end "
                             "of the file: with \"name: " +
                             reading.container +
                             "\" for this app's own network, or with \"name: torvo-<id>\" and "
                             "\"external: true\" for the network of another app.");
    }
  }
  return {};
}

Result<void> order_services(Reading& reading, Recipe& recipe) {
  const auto index_of = [&](std::string_view key) {
    std::size_t i = 0;
    while (i < reading.services.size() && reading.services[i].key != key) ++i;
    return i;
  };
  for (const Service& service : reading.services) {
    for (const std::string& target : service.depends_on) {
      if (target == service.key || index_of(target) == reading.services.size()) {
        return std::unexpected(service_where(service.key) + ": \"depends_on\" lists " +
                               quoted(target) + ", which is not another service of this file.");
      }
    }
  }

  std::vector<bool> placed(reading.services.size(), false);
  while (reading.start_order.size() < reading.services.size()) {
    std::size_t next = reading.services.size();
    for (std::size_t i = 0; i < reading.services.size() && next == reading.services.size(); ++i) {
      const std::vector<std::string>& needs = reading.services[i].depends_on;
      if (!placed[i] && std::all_of(needs.begin(), needs.end(), [&](const std::string& target) {
            return placed[index_of(target)];
          })) {
        next = i;
      }
    }
    if (next == reading.services.size()) {
      return std::unexpected("The services depend on each other in a circle under \"depends_on\".");
    }
    placed[next] = true;
    reading.start_order.push_back(next);
  }

  std::vector<bool> after_app(reading.services.size(), false);
  for (const std::size_t i : reading.start_order) {
    Service& service = reading.services[i];
    if (service.is_app) continue;
    for (const std::string& target : service.depends_on) {
      const std::size_t j = index_of(target);
      if (reading.services[j].is_app || after_app[j]) after_app[i] = true;
    }
    recipe.helpers.push_back(RecipeService{
        service.key, service.container, std::move(service.image), std::move(service.command),
        std::move(service.environment), std::move(service.volumes), after_app[i]});
  }
  return {};
}

}  // namespace zelk::recipe_reading
