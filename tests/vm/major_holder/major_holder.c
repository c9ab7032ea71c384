// SPDX-License-Identifier: GPL-2.0
/*
 * major_holder - a test driver that owns character-device major 61
 *
 * Loaded next to lpgate in the emulated PC, it shows whether unloading
 * lpgate leaves another driver's registration alone.
 */

#include <linux/fs.h>
#include <linux/init.h>
#include <linux/module.h>

#define HOLDER_MAJOR 61
#define HOLDER_NAME "major_holder"

static const struct file_operations holder_fops = {
	.owner = THIS_MODULE,
};

static int __init holder_init(void)
{
	return register_chrdev(HOLDER_MAJOR, HOLDER_NAME, &holder_fops);
}

static void __exit holder_exit(void)
{
	unregister_chrdev(HOLDER_MAJOR, HOLDER_NAME);
}

module_init(holder_init);
module_exit(holder_exit);

MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("Test driver holding character-device major 61");
