/* Finds every module on the local networks and prints its identity.
 * Usage: find_modules */
#include <stdio.h>
#include <varnode/varnode.h>

#define TEXT 128

static void print_address(uint32_t a) {
  printf("%u.%u.%u.%u", (unsigned)(a >> 24), (unsigned)(a >> 16 & 255), (unsigned)(a >> 8 & 255),
         (unsigned)(a & 255));
}

int main(void) {
  uint32_t addresses[256];
  uint32_t count = 256;
  /* No serial numbers: every module that answers within a second. */
  uint8_t rc = find(addresses, &count, NULL, 0);
  if (rc != VARNODE_SUCCESS) {
    fprintf(stderr, "find: %u\n", rc);
    return 1;
  }
  printf("%u module(s)\n", (unsigned)count);

  for (uint32_t i = 0; i < count; ++i) {
    /* Every text comes with its capacity and is not zero-terminated. */
    char maker[TEXT], type[TEXT], description[TEXT], t5[TEXT], t6[TEXT], firmware[TEXT], t10[TEXT];
    char t21[TEXT], name[TEXT], t24[TEXT], t25[TEXT];
    uint32_t maker_n = TEXT, type_n = TEXT, description_n = TEXT, t5_n = TEXT, t6_n = TEXT, firmware_n = TEXT;
    uint32_t t10_n = TEXT, t21_n = TEXT, name_n = TEXT, t24_n = TEXT, t25_n = TEXT;
    uint32_t serial, n8, n9, d11, d12, d13, n14, n15, n16, ip, netmask, gateway;
    uint8_t mac[6], flag;
    rc = get_info(addresses[i], maker, &maker_n, type, &type_n, description, &description_n, &serial, t5, &t5_n,
                  t6, &t6_n, &n8, &n9, firmware, &firmware_n, t10, &t10_n, &d11, &d12, &d13, &n14, &n15, &n16, mac,
                  &ip, &netmask, &gateway, &flag, t21, &t21_n, name, &name_n, t24, &t24_n, t25, &t25_n);
    print_address(addresses[i]);
    if (rc != VARNODE_SUCCESS) {
      printf("  get_info: %u\n", rc);
      continue;
    }
    printf("  %.*s  serial %u  %.*s  firmware %.*s  name \"%.*s\"  mac %02x:%02x:%02x:%02x:%02x:%02x\n",
           (int)type_n, type, (unsigned)serial, (int)description_n, description, (int)firmware_n, firmware,
           (int)name_n, name, mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
  }
  return 0;
}
