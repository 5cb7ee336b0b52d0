# Run after the framework writes the LV2 bundle's ui.ttl (cmake -P, with UI_TTL set). The framework
# lists ui:noUserResize as extension data and the options interface as an optional feature; neither
# is one (the first is a feature, the second extension data, which the file already declares), and
# validators reject both. Hosts look extension data up by URI, so dropping the two entries changes
# nothing for them.
file(READ "${UI_TTL}" ttl)
string(REPLACE "\t\tui:noUserResize ,\n" "" ttl "${ttl}")
string(REPLACE "lv2:optionalFeature\n\t\tui:resize ,\n\t\topts:interface ,\n"
               "lv2:optionalFeature\n\t\tui:resize ,\n" ttl "${ttl}")
file(WRITE "${UI_TTL}" "${ttl}")
