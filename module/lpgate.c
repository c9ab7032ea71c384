// SPDX-License-Identifier: GPL-2.0
/*
 * lpgate - keeps the player display's parallel-port registers reserved
 *
 * The player drives its character display on the first parallel port
 * straight from user space. While this module is loaded the port's three
 * registers (data, status, control at 0x378-0x37a) stand in the kernel's
 * I/O-region table under LPGATE, so that drivers which consult the table
 * before touching a port (parport_pc, and lp through it) leave them alone.
 * The table does not restrict user-space port access, so the player works
 * with or without the module.
 *
 * On load the control register is written once: interrupt enable on, and
 * the four display lines it carries idle (E low, RS at the data register,
 * R/W at read). The player's first display write replaces that value.
 */

#define LPGATE_NAME "LPGATE"
#define pr_fmt(fmt) LPGATE_NAME " " fmt

#include <linux/errno.h>
#include <linux/init.h>
#include <linux/io.h>
#include <linux/ioport.h>
#include <linux/module.h>
#include <linux/printk.h>

#define LPGATE_BASE 0x378
#define LPGATE_EXTENT 3
#define LPGATE_CONTROL (LPGATE_BASE + 2)

/* Bit 4 enables the port's interrupt; bits 0-3 are the display lines. */
#define LPGATE_CONTROL_ON_LOAD 0x10

/* The port's interrupt line, reported for the operator: nothing here takes
 * interrupts, and no handler is attached.
 */
#define LPGATE_IRQ 7

int __init init_module(void)
{
	/* Claiming is the test: it fails if any of the three ports is taken. */
	if (!request_region(LPGATE_BASE, LPGATE_EXTENT, LPGATE_NAME)) {
		pr_err("port already in use\n");
		return -EBUSY;
	}
	outb(LPGATE_CONTROL_ON_LOAD, LPGATE_CONTROL);
	pr_info("installed at port 0x%08x irq %d\n", LPGATE_BASE, LPGATE_IRQ);
	return 0;
}

void __exit cleanup_module(void)
{
	release_region(LPGATE_BASE, LPGATE_EXTENT);
}

MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("Reserves the player display's parallel-port I/O range");
