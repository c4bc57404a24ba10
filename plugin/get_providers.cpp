#include "get_providers.h"

#include "QVT7702Provider.h"

std::vector<std::shared_ptr<Provider>> get_providers() {
    std::vector<std::shared_ptr<Provider>> providers;
    providers.push_back(std::make_shared<QVT7702Provider>());
    return providers;
}
