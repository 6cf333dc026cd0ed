#pragma once
// One product found by the scan: its name and vendor and the traces of it
// that exist on the machine.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tavo {

class Product {
 public:
  using List = std::vector<std::string>;

  /// Name and vendor unset (nullopt, not empty); five empty lists.
  Product() = default;
  Product(const Product&) = delete;
  Product& operator=(const Product&) = delete;

  // Name and vendor may be read from another thread than the one that set
  // them, so each access is whole under the record's lock.
  std::optional<std::string> name() const;
  void setName(std::optional<std::string> name);
  std::optional<std::string> vendor() const;
  void setVendor(std::optional<std::string> vendor);

  /// The record's own lists, in insertion order, duplicates kept.
  const List& paths() const { return _paths; }
  const List& dirs() const { return _dirs; }
  const List& prefVars() const { return _prefv; }
  const List& prefFiles() const { return _preff; }
  const List& recps() const { return _recps; }

  void addPath(std::string path) { _paths.push_back(std::move(path)); }
  void addDir(std::string dir) { _dirs.push_back(std::move(dir)); }
  void addPrefVar(std::string prefVar) { _prefv.push_back(std::move(prefVar)); }
  void addPrefFile(std::string prefFile) { _preff.push_back(std::move(prefFile)); }
  void addRecp(std::string recp) { _recps.push_back(std::move(recp)); }

 private:
  mutable std::mutex _propertyLock;
  std::optional<std::string> _name;
  std::optional<std::string> _vendor;
  List _paths;   // every file and folder found
  List _dirs;    // the top-level files and folders to move to the Trash
  List _prefv;   // preference values: domain "::" key path
  List _preff;   // preference files
  List _recps;   // package identifiers whose receipt exists
};

using ProductList = std::vector<std::unique_ptr<Product>>;

}  // namespace tavo
