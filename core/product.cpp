#include "core/product.h"

namespace tavo {

std::optional<std::string> Product::name() const {
  std::lock_guard<std::mutex> lock(_propertyLock);
  return _name;
}

void Product::setName(std::optional<std::string> name) {
  std::lock_guard<std::mutex> lock(_propertyLock);
  _name = std::move(name);
}

std::optional<std::string> Product::vendor() const {
  std::lock_guard<std::mutex> lock(_propertyLock);
  return _vendor;
}

void Product::setVendor(std::optional<std::string> vendor) {
  std::lock_guard<std::mutex> lock(_propertyLock);
  _vendor = std::move(vendor);
}

}  // namespace tavo
