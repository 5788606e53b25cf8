# Build values of the demo brand. A publisher's brand folder (KV_BRAND_DIR) carries its own copy
# of this file beside its language package, URL configuration and domain code.

# Version record of the executable; the description also names the single-instance lock.
set(KV_BRAND_FILE_DESCRIPTION "Korvana Lumenstack Downloader")
set(KV_BRAND_FILE_VERSION "1.0.0.1")

# API server that answers the banner carousel request ("/downloader/carousel?...").
# The demo servers (scripts/demo.sh) answer it over https on loopback, with their own CA.
set(KV_BRAND_CAROUSEL_SCHEME "https")
set(KV_BRAND_CAROUSEL_HOST "127.0.0.1:18443")

# Analytics collector (measurement protocol endpoint with its id and secret). Its certificate is
# verified unless KV_BRAND_ANALYTICS_RELAXED_CERTIFICATES is "ON".
set(KV_BRAND_ANALYTICS_URL
    "https://127.0.0.1:18444/mp/collect?measurement_id=G-DEMO0000&api_secret=demo-secret")

# Keys that sign the installer's statement ("<download URL>.sig", see README.md). The demo
# brand's key pair is made by each build in its build folder. A publisher's brand instead names
# its public key files, relative to this folder (two while moving to a new key):
#   set(KV_BRAND_PUBLIC_KEYS "keys/publisher.pub")
set(KV_BRAND_DEMO_SIGNING_KEY "ON")

# Brand word used when the product configuration names none.
set(KV_BRAND_DEFAULT_BRAND_NAME "Korvana")
