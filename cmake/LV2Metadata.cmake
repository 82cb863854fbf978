# Run after JUCE's juce_lv2_helper has written the LV2 bundle's dsp.ttl (cmake -DTTL=<file> -P ...).
# With no company website or e-mail set, JUCE writes the maintainer's homepage and mailbox as empty
# IRIs, which LV2 hosts resolve to the .ttl file itself and show as the author's address. We have
# neither to publish, so those two lines go.
file(READ "${TTL}" ttl)
string(REGEX REPLACE "\n\t\tfoaf:homepage <> ;" "" ttl "${ttl}")
string(REGEX REPLACE "\n\t\tfoaf:mbox <> ;" "" ttl "${ttl}")
file(WRITE "${TTL}" "${ttl}")
