// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Updater.h"

#include "platform/Shell.h"
#include "res/Product.h"

#include <string>
#include <string_view>

namespace fb {

void LaunchUpdater(IShell& shell) {
    std::string parameters;
    for (std::string_view argument : {product::kName, std::string_view("6"), product::kVersion,
                                      product::kMakerDomain, std::string_view("false")}) {
        parameters += '"';
        parameters += argument;
        parameters += "\" ";
    }
    shell.Execute("open", std::string(product::kUpdater), parameters, "", kSwShowNormal);
}

} // namespace fb
