-- A small demo database for trying Calvoro: a shop with customers, products and orders.
DROP DATABASE IF EXISTS shop;
CREATE DATABASE shop CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;
USE shop;

CREATE TABLE customer (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY,
  name VARCHAR(100) NOT NULL,
  email VARCHAR(200) NULL,
  city VARCHAR(60) NOT NULL,
  created DATETIME NOT NULL DEFAULT CURRENT_TIMESTAMP
) ENGINE=InnoDB;

CREATE TABLE product (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY,
  name VARCHAR(100) NOT NULL,
  price DECIMAL(10,2) NOT NULL,
  stock INT NOT NULL DEFAULT 0,
  description TEXT NULL
) ENGINE=InnoDB;

CREATE TABLE orders (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY,
  customer_id INT UNSIGNED NOT NULL,
  ordered DATE NOT NULL,
  note VARCHAR(255) NULL,
  FOREIGN KEY (customer_id) REFERENCES customer (id)
) ENGINE=InnoDB;

CREATE TABLE order_item (
  order_id INT UNSIGNED NOT NULL,
  product_id INT UNSIGNED NOT NULL,
  quantity INT NOT NULL,
  PRIMARY KEY (order_id, product_id),
  FOREIGN KEY (order_id) REFERENCES orders (id),
  FOREIGN KEY (product_id) REFERENCES product (id)
) ENGINE=InnoDB;

INSERT INTO customer (name, email, city, created) VALUES
  ('Ana Souza', 'ana@example.com', 'Lisboa', '2024-01-05 10:12:00'),
  ('Björn Larsen', NULL, 'Bergen', '2024-02-11 16:40:00'),
  ('Chiara Rossi', 'chiara@example.com', 'Torino', '2024-03-02 09:05:00'),
  ('Dmitri Volkov', 'dmitri@example.com', 'Riga', '2024-03-15 18:22:00'),
  ('Émilie Dubois', 'emilie@example.com', 'Lyon', '2024-04-01 08:00:00');

INSERT INTO product (name, price, stock, description) VALUES
  ('Notebook A5', 3.50, 240, 'Ruled, 96 pages'),
  ('Fountain pen', 24.90, 35, 'Steel nib, blue ink cartridge included'),
  ('Desk lamp', 39.00, 12, NULL),
  ('Paper clips (100)', 1.20, 500, NULL),
  ('Stapler', 8.75, 60, 'Staples up to 20 sheets');

INSERT INTO orders (customer_id, ordered, note) VALUES
  (1, '2024-04-02', NULL), (2, '2024-04-03', 'Gift wrap'), (1, '2024-04-10', NULL),
  (4, '2024-04-11', 'Deliver after 5 pm');

INSERT INTO order_item VALUES
  (1, 1, 4), (1, 2, 1), (2, 3, 1), (3, 4, 10), (3, 5, 1), (4, 1, 2), (4, 3, 1);

CREATE VIEW order_total AS
  SELECT o.id AS order_id, c.name AS customer, o.ordered, SUM(i.quantity * p.price) AS total
  FROM orders o
  JOIN customer c ON c.id = o.customer_id
  JOIN order_item i ON i.order_id = o.id
  JOIN product p ON p.id = i.product_id
  GROUP BY o.id, c.name, o.ordered;

DELIMITER //
CREATE PROCEDURE customer_orders(IN customer INT UNSIGNED)
BEGIN
  SELECT * FROM order_total WHERE order_id IN (SELECT id FROM orders WHERE customer_id = customer);
END//

CREATE TRIGGER order_item_stock AFTER INSERT ON order_item FOR EACH ROW
BEGIN
  UPDATE product SET stock = stock - NEW.quantity WHERE id = NEW.product_id;
END//
DELIMITER ;
